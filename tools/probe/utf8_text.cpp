#include "tools/probe/utf8_text.h"

#include <cstdint>

#include "companion/utf8_sequence.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string ValidUtf8(const std::string& text) {
    std::string valid;
    valid.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t from = at;
        std::uint32_t codePoint = 0;
        if (NextUtf8CodePoint(text, at, codePoint)) {
            valid.append(text, from, at - from);
        } else {
            valid += kReplacement;
            ++at;
        }
    }
    return valid;
}
