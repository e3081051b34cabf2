#pragma once
// Reading and writing UTF-8 one code point at a time, for every part that
// checks or converts text: the application-id rule, the companion's wide
// command line, the probe's text search and JSON output, and the reference
// service's JSON strings. Header-only, since the addon's own build (node-gyp) compiles
// the application-id rule too.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The code point of the well-formed sequence at `text[at]`, advancing `at`
// past it; false (with `at` unchanged) for bytes that are not UTF-8: a stray
// or missing continuation byte, an overlong form, a surrogate, beyond
// U+10FFFF.
inline bool NextUtf8CodePoint(std::string_view text, std::size_t& at, std::uint32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4                 ? 4
                                                                        : 0;
    if (length == 0 || text.size() - at < length) return false;
    static constexpr std::uint32_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    std::uint32_t point = lead & kLeadBits[length];
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return false;
        point = (point << 6) | (next & 0x3F);
    }
    if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    codePoint = point;
    at += length;
    return true;
}

// Appends the UTF-8 form of `codePoint` (at most U+10FFFF). A surrogate half
// is written as its own three bytes, for callers that keep one as it came.
inline void AppendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
        return;
    }
    const int continuations = codePoint < 0x800 ? 1 : codePoint < 0x10000 ? 2 : 3;
    static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[continuations] | (codePoint >> (6 * continuations)));
    for (int shift = 6 * (continuations - 1); shift >= 0; shift -= 6) {
        out += static_cast<char>(0x80 | ((codePoint >> shift) & 0x3F));
    }
}
