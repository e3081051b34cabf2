#include "companion/command_line.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

int ClampedToInt(long long value) {
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void CopyApplicationId(const char* text, char (&buffer)[kApplicationIdSize]) {
    std::snprintf(buffer, sizeof buffer, "%s", text);
}

void CopyApplicationId(const wchar_t* text, char (&buffer)[kApplicationIdSize]) {
    // The conversion writes at most the whole buffer, without a terminator
    // when the id needs all of it.
    std::size_t converted = std::wcstombs(buffer, text, sizeof buffer);
    if (converted == static_cast<std::size_t>(-1)) converted = 0;
    buffer[converted < sizeof buffer ? converted : sizeof buffer - 1] = '\0';
}

template <typename Char>
bool ReadArguments(int argc, const Char* const* argv, CompanionArguments& arguments) {
    if (argc < 3) return false;
    arguments.processId = DecimalArgument(argv[1]);
    CopyApplicationId(argv[2], arguments.applicationId);
    return true;
}

}  // namespace

int DecimalArgument(const char* text) {
    return ClampedToInt(std::strtoll(text, nullptr, 10));
}

int DecimalArgument(const wchar_t* text) {
    return ClampedToInt(std::wcstoll(text, nullptr, 10));
}

bool ReadCompanionArguments(int argc, const char* const* argv, CompanionArguments& arguments) {
    return ReadArguments(argc, argv, arguments);
}

bool ReadCompanionArguments(int argc, const wchar_t* const* argv, CompanionArguments& arguments) {
    return ReadArguments(argc, argv, arguments);
}

void FormatScriptPath(char (&path)[kScriptPathSize], const char* format, const char* applicationId) {
    std::snprintf(path, sizeof path, format, applicationId);
}
