#include "target/pattern_matcher.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CORVANE_X86_FILTERS 1
#endif

namespace detail {

bool PatternMatcher::Supports(MatcherFilter filter) {
#ifdef CORVANE_X86_FILTERS
    __builtin_cpu_init();
    if (filter == MatcherFilter::Avx2) return __builtin_cpu_supports("avx2");
    if (filter == MatcherFilter::Sse2) return __builtin_cpu_supports("sse2");
#endif
    return filter == MatcherFilter::Scalar;
}

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

#ifdef CORVANE_X86_FILTERS

// Bit i of the result: the window starting i bytes after `firstBytes`' base
// has the first and the last fixed byte.
__attribute__((target("avx2"))) static inline std::uint64_t CandidatesAvx2(const std::uint8_t* firstBytes,
                                                                           const std::uint8_t* lastBytes,
                                                                           __m256i firstValue,
                                                                           __m256i lastValue) {
    const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(firstBytes));
    const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lastBytes));
    const __m256i both = _mm256_and_si256(_mm256_cmpeq_epi8(f, firstValue), _mm256_cmpeq_epi8(l, lastValue));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(both));
}

__attribute__((target("sse2"))) static inline std::uint64_t CandidatesSse2(const std::uint8_t* firstBytes,
                                                                           const std::uint8_t* lastBytes,
                                                                           __m128i firstValue,
                                                                           __m128i lastValue) {
    const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firstBytes));
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lastBytes));
    const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(f, firstValue), _mm_cmpeq_epi8(l, lastValue));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(both));
}

// Both filters test 64 window starts per step, so the common case of no
// candidate costs one branch per 64 bytes.
__attribute__((target("avx2"))) std::size_t PatternMatcher::FindAvx2(const std::uint8_t* data,
                                                                     std::size_t lastStart) const {
    const __m256i firstValue = _mm256_set1_epi8(static_cast<char>(first_.value));
    const __m256i lastValue = _mm256_set1_epi8(static_cast<char>(last_.value));
    const std::uint8_t* firstBytes = data + first_.offset;
    const std::uint8_t* lastBytes = data + last_.offset;
    std::size_t i = 0;
    for (; lastStart >= 63 && i <= lastStart - 63; i += 64) {
        const std::uint64_t bits =
            CandidatesAvx2(firstBytes + i, lastBytes + i, firstValue, lastValue) |
            CandidatesAvx2(firstBytes + i + 32, lastBytes + i + 32, firstValue, lastValue) << 32;
        if (bits != 0) {
            const std::size_t found = FirstVerified(data, i, bits);
            if (found != kNoMatch) return found;
        }
    }
    return FindScalar(data, i, lastStart);
}

__attribute__((target("sse2"))) std::size_t PatternMatcher::FindSse2(const std::uint8_t* data,
                                                                     std::size_t lastStart) const {
    const __m128i firstValue = _mm_set1_epi8(static_cast<char>(first_.value));
    const __m128i lastValue = _mm_set1_epi8(static_cast<char>(last_.value));
    const std::uint8_t* firstBytes = data + first_.offset;
    const std::uint8_t* lastBytes = data + last_.offset;
    std::size_t i = 0;
    for (; lastStart >= 63 && i <= lastStart - 63; i += 64) {
        const std::uint64_t bits =
            CandidatesSse2(firstBytes + i, lastBytes + i, firstValue, lastValue) |
            CandidatesSse2(firstBytes + i + 16, lastBytes + i + 16, firstValue, lastValue) << 16 |
            CandidatesSse2(firstBytes + i + 32, lastBytes + i + 32, firstValue, lastValue) << 32 |
            CandidatesSse2(firstBytes + i + 48, lastBytes + i + 48, firstValue, lastValue) << 48;
        if (bits != 0) {
            const std::size_t found = FirstVerified(data, i, bits);
            if (found != kNoMatch) return found;
        }
    }
    return FindScalar(data, i, lastStart);
}

#else

std::size_t PatternMatcher::FindAvx2(const std::uint8_t* data, std::size_t lastStart) const {
    return FindScalar(data, 0, lastStart);
}

std::size_t PatternMatcher::FindSse2(const std::uint8_t* data, std::size_t lastStart) const {
    return FindScalar(data, 0, lastStart);
}

#endif

std::size_t PatternMatcher::FindFirst(const std::uint8_t* data, std::size_t size) const {
    return FindFirstWith(BestFilter(), data, size);
}

std::size_t PatternMatcher::FindFirstWith(MatcherFilter filter, const std::uint8_t* data,
                                          std::size_t size) const {
    if (size < length_) return kNoMatch;
    if (!hasFixed_) return 0;  // only wildcards: the first window matches
    const std::size_t lastStart = size - length_;
    switch (filter) {
        case MatcherFilter::Avx2: return FindAvx2(data, lastStart);
        case MatcherFilter::Sse2: return FindSse2(data, lastStart);
        case MatcherFilter::Scalar: break;
    }
    return FindScalar(data, 0, lastStart);
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
