#pragma once
// Text the probe puts into JSON: JSON is UTF-8, while paths, a script's error
// messages and the texts a script returns may hold any bytes.

#include <string>

// `text` with every byte that does not belong to a well-formed UTF-8
// sequence replaced by U+FFFD; well-formed text is returned unchanged.
std::string ValidUtf8(const std::string& text);
