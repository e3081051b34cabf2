#pragma once
// Reading UTF-8 one code point at a time, for every part that checks or
// converts text: the application-id rule, and the probe's text search and
// JSON output. Header-only, since the addon's own build (node-gyp) compiles
// the application-id rule too.

#include <cstddef>
#include <cstdint>
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
