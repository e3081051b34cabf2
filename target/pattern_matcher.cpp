// The portable part of the pattern matcher: set-up, candidate verification,
// the scalar loop and the position-by-position compare. The vector filters
// live in the processor family's file (see pattern_matcher.h).
#include "target/pattern_matcher.h"

namespace detail {

MatcherFilter PatternMatcher::BestFilter() {
    static const MatcherFilter best = Supports(MatcherFilter::Avx2)   ? MatcherFilter::Avx2
                                      : Supports(MatcherFilter::Sse2) ? MatcherFilter::Sse2
                                                                      : MatcherFilter::Scalar;
    return best;
}

PatternMatcher::PatternMatcher(const BytePattern& pattern) : length_(pattern.bytes.size()) {
    std::vector<FixedByte> fixed;
    for (std::size_t j = 0; j < length_; ++j) {
        if (pattern.mask[j] != 0) fixed.push_back({j, pattern.bytes[j]});
    }
    if (fixed.empty()) return;
    hasFixed_ = true;
    first_ = fixed.front();
    last_ = fixed.back();
    if (fixed.size() > 2) interior_.assign(fixed.begin() + 1, fixed.end() - 1);
}

const char* PatternMatcher::FilterName(MatcherFilter filter) {
    switch (filter) {
        case MatcherFilter::Avx2: return "avx2";
        case MatcherFilter::Sse2: return "sse2";
        case MatcherFilter::Scalar: break;
    }
    return "scalar";
}

bool PatternMatcher::InteriorMatches(const std::uint8_t* window) const {
    for (const FixedByte& fixed : interior_) {
        if (window[fixed.offset] != fixed.value) return false;
    }
    return true;
}

std::size_t PatternMatcher::FirstVerified(const std::uint8_t* data, std::size_t at,
                                          std::uint64_t candidates) const {
    for (; candidates != 0; candidates &= candidates - 1) {
        const std::size_t window = at + static_cast<std::size_t>(__builtin_ctzll(candidates));
        if (InteriorMatches(data + window)) return window;
    }
    return kNoMatch;
}

std::size_t PatternMatcher::FindScalar(const std::uint8_t* data, std::size_t from,
                                       std::size_t lastStart) const {
    const std::uint8_t* firstBytes = data + first_.offset;
    const std::uint8_t* lastBytes = data + last_.offset;
    for (std::size_t i = from; i <= lastStart; ++i) {
        if (firstBytes[i] == first_.value && lastBytes[i] == last_.value && InteriorMatches(data + i)) {
            return i;
        }
    }
    return kNoMatch;
}

std::size_t PatternMatcher::FindFirst(const std::uint8_t* data, std::size_t size) const {
    return FindFirstWith(BestFilter(), data, size);
}

std::size_t PatternMatcher::FindFirstWith(MatcherFilter filter, const std::uint8_t* data,
                                          std::size_t size) const {
    if (size < length_) return kNoMatch;
    if (!hasFixed_) return 0;  // only wildcards: the first window matches
    const std::size_t lastStart = size - length_;
    if (filter == MatcherFilter::Scalar) return FindScalar(data, 0, lastStart);
    return FindVector(filter, data, lastStart);
}

std::size_t FindFirstByPosition(const BytePattern& pattern, const std::uint8_t* data, std::size_t size) {
    const std::size_t length = pattern.bytes.size();
    if (size < length) return kNoMatch;
    for (std::size_t k = 0; k <= size - length; ++k) {
        std::size_t j = 0;
        while (j < length && (pattern.mask[j] == 0 || data[k + j] == pattern.bytes[j])) ++j;
        if (j == length) return k;
    }
    return kNoMatch;
}

}  // namespace detail
