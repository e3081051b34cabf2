#pragma once
// Windows-only helpers of the launch backend, visible to its tests.

#include <string>
#include <vector>

namespace corvane {

std::wstring wideFromUtf8(const std::string& text);
std::string utf8FromWide(const std::wstring& text);

// One command line that CommandLineToArgvW splits back into exactly these
// arguments. The program path is always in double quotes; another argument is
// quoted only when it is empty or holds white space or a double quote, so a
// plain application id appears as it is.
std::wstring commandLineFor(const std::vector<std::string>& arguments);

}  // namespace corvane
