// Fuzz target: the pattern text of the script function `Find`, up to its
// first zero byte as a script's string reaches it. The parsed pattern is
// checked against the syntax: valid exactly when the length is even, one
// byte per pair, ".." a wildcard and nothing else one, a pair of hex digits
// that byte. The pattern is then searched for in the input's own bytes by the
// fast matcher with every filter this CPU has, which must agree with the
// position-by-position search.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "script/script_memory.h"
#include "target/pattern_matcher.h"

namespace {

using namespace detail;

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "find_pattern_fuzzer: %s\n", what);
    std::abort();
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::size_t length = std::strlen(text.c_str());
    const std::optional<BytePattern> pattern = ParsePattern(text.c_str());
    Check(pattern.has_value() == (length % 2 == 0), "validity is not the evenness of the length");
    if (!pattern) return 0;
    Check(pattern->bytes.size() == length / 2 && pattern->mask.size() == length / 2, "not one byte per pair");
    for (std::size_t i = 0; i < length / 2; ++i) {
        const char high = text[2 * i], low = text[2 * i + 1];
        const bool wildcard = high == '.' && low == '.';
        Check((pattern->mask[i] == 0) == wildcard, "a wildcard that is not \"..\", or the reverse");
        if (HexDigit(high) >= 0 && HexDigit(low) >= 0) {
            Check(pattern->bytes[i] == (HexDigit(high) << 4 | HexDigit(low)), "a hex pair read as another byte");
        }
    }

    const PatternMatcher matcher(*pattern);
    const std::size_t expected = FindFirstByPosition(*pattern, data, size);
    for (MatcherFilter filter : {MatcherFilter::Scalar, MatcherFilter::Sse2, MatcherFilter::Avx2}) {
        if (!PatternMatcher::Supports(filter)) continue;
        Check(matcher.FindFirstWith(filter, data, size) == expected, "the fast matcher disagrees with the plain search");
    }
    return 0;
}
