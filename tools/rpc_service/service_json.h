#pragma once
// The little JSON the reference service needs, written apart from the
// client's JSON code: quoting a text, and reading the top-level string
// members of a request.

#include <string>

namespace service_json {

// `text` as a JSON string: quotes added, quotation marks, reverse solidi
// and control bytes escaped, every other byte copied.
std::string Quote(const std::string& text);

// The decoded value of the string member `key` of the top-level object in
// `json`. False when the text is not an object, the member is missing, or
// its value is not a string.
bool TopLevelString(const std::string& json, const std::string& key, std::string& value);

}  // namespace service_json
