#include "companion/command_line.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "companion/utf8_sequence.h"

namespace {

int ClampedToInt(long long value) {
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool CopyApplicationId(const char* text, char (&buffer)[kApplicationIdSize]) {
    std::snprintf(buffer, sizeof buffer, "%s", text);
    return true;
}

// The UTF-8 form of a wide argument: UTF-16 where wchar_t has 16 bits
// (Windows), UTF-32 where it has 32. False for a lone surrogate or a value
// beyond U+10FFFF, which no UTF-8 text stands for.
bool Utf8FromWide(const wchar_t* text, std::string& out) {
    for (const wchar_t* unit = text; *unit != L'\0'; ++unit) {
        auto codePoint = static_cast<char32_t>(*unit);
        if (sizeof(wchar_t) == 2) codePoint &= 0xFFFF;
        if (sizeof(wchar_t) == 2 && codePoint >= 0xD800 && codePoint <= 0xDBFF) {
            auto low = static_cast<char32_t>(unit[1]) & 0xFFFF;
            if (low < 0xDC00 || low > 0xDFFF) return false;
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
            ++unit;
        } else if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
            return false;
        }
        AppendUtf8(out, codePoint);
    }
    return true;
}

// The id in UTF-8, whatever the wide text's characters (the C library's
// wide-to-multibyte conversion knows only its locale's, and would lose the
// others), cut like a narrow one.
bool CopyApplicationId(const wchar_t* text, char (&buffer)[kApplicationIdSize]) {
    std::string utf8;
    if (!Utf8FromWide(text, utf8)) return false;
    return CopyApplicationId(utf8.c_str(), buffer);
}

template <typename Char>
bool ReadArguments(int argc, const Char* const* argv, CompanionArguments& arguments) {
    if (argc < 3) return false;
    arguments.processId = DecimalArgument(argv[1]);
    return CopyApplicationId(argv[2], arguments.applicationId);
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
