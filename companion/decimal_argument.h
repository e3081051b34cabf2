#pragma once
// The process id argument: leading white space, an optional sign, then
// decimal digits up to the first other character; text without digits gives
// 0. Values beyond the 32-bit range are clamped to it.

#include <climits>
#include <cstdlib>
#include <cwchar>

template <typename Char>
int DecimalArgument(const Char* text) {
    long long value;
    if constexpr (sizeof(Char) == 1) {
        value = std::strtoll(reinterpret_cast<const char*>(text), nullptr, 10);
    } else {
        value = std::wcstoll(reinterpret_cast<const wchar_t*>(text), nullptr, 10);
    }
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}
