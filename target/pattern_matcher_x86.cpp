// The pattern matcher's processor-specific part on x86 and x86-64: the CPU
// test, and the vector filter, written once over its lane width and compiled
// for SSE2 (16 lanes) and AVX2 (32 lanes).
#include <immintrin.h>

#include "target/pattern_matcher.h"

namespace detail {
namespace {

// Window starts that AnyCandidate tests at once: most blocks hold no
// candidate, and one test per block instead of one per 64 starts leaves the
// common case bound by reading the bytes rather than by the tests.
constexpr std::size_t kBlockStarts = 256;

// Each lane type compares `kWidth` consecutive window starts at once. Bit i
// of Candidates: the window starting i bytes after `firstBytes`' base has
// the first and the last fixed byte. AnyCandidate: whether any of the
// kBlockStarts windows from that base has both. Only scalars and pointers
// cross these calls, so no vector value passes between code built for
// different instruction sets when an unoptimised build does not inline them.
struct Sse2Lanes {
    static constexpr std::size_t kWidth = 16;

    __attribute__((target("sse2"))) static std::uint64_t Candidates(const std::uint8_t* firstBytes,
                                                                    const std::uint8_t* lastBytes,
                                                                    std::uint8_t firstValue,
                                                                    std::uint8_t lastValue) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firstBytes));
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lastBytes));
        const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(f, _mm_set1_epi8(static_cast<char>(firstValue))),
                                           _mm_cmpeq_epi8(l, _mm_set1_epi8(static_cast<char>(lastValue))));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(both));
    }

    __attribute__((target("sse2"))) static bool AnyCandidate(const std::uint8_t* firstBytes,
                                                             const std::uint8_t* lastBytes, std::uint8_t firstValue,
                                                             std::uint8_t lastValue) {
        const __m128i first = _mm_set1_epi8(static_cast<char>(firstValue));
        const __m128i last = _mm_set1_epi8(static_cast<char>(lastValue));
        __m128i any = _mm_setzero_si128();
        for (std::size_t lane = 0; lane < kBlockStarts; lane += kWidth) {
            const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firstBytes + lane));
            const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lastBytes + lane));
            any = _mm_or_si128(any, _mm_and_si128(_mm_cmpeq_epi8(f, first), _mm_cmpeq_epi8(l, last)));
        }
        return _mm_movemask_epi8(any) != 0;
    }
};

struct Avx2Lanes {
    static constexpr std::size_t kWidth = 32;

    __attribute__((target("avx2"))) static std::uint64_t Candidates(const std::uint8_t* firstBytes,
                                                                    const std::uint8_t* lastBytes,
                                                                    std::uint8_t firstValue,
                                                                    std::uint8_t lastValue) {
        const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(firstBytes));
        const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lastBytes));
        const __m256i both =
            _mm256_and_si256(_mm256_cmpeq_epi8(f, _mm256_set1_epi8(static_cast<char>(firstValue))),
                             _mm256_cmpeq_epi8(l, _mm256_set1_epi8(static_cast<char>(lastValue))));
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(both));
    }

    __attribute__((target("avx2"))) static bool AnyCandidate(const std::uint8_t* firstBytes,
                                                             const std::uint8_t* lastBytes, std::uint8_t firstValue,
                                                             std::uint8_t lastValue) {
        const __m256i first = _mm256_set1_epi8(static_cast<char>(firstValue));
        const __m256i last = _mm256_set1_epi8(static_cast<char>(lastValue));
        __m256i any = _mm256_setzero_si256();
        for (std::size_t lane = 0; lane < kBlockStarts; lane += kWidth) {
            const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(firstBytes + lane));
            const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lastBytes + lane));
            any = _mm256_or_si256(any, _mm256_and_si256(_mm256_cmpeq_epi8(f, first), _mm256_cmpeq_epi8(l, last)));
        }
        return !_mm256_testz_si256(any, any);
    }
};

}  // namespace

struct VectorFilter {
    // Skips blocks of kBlockStarts window starts that hold no candidate, then
    // tests 64 starts per step whatever the lane width, verifying candidates
    // in ascending order; the last starts that do not fill a step go to the
    // scalar loop.
    template <typename Lanes>
    static std::size_t Find(const PatternMatcher& matcher, const std::uint8_t* data, std::size_t lastStart) {
        const std::uint8_t* firstBytes = data + matcher.first_.offset;
        const std::uint8_t* lastBytes = data + matcher.last_.offset;
        const std::uint8_t firstValue = matcher.first_.value;
        const std::uint8_t lastValue = matcher.last_.value;
        std::size_t i = 0;
        for (; lastStart >= 63 && i <= lastStart - 63; i += 64) {
            while (i + (kBlockStarts - 1) <= lastStart &&
                   !Lanes::AnyCandidate(firstBytes + i, lastBytes + i, firstValue, lastValue)) {
                i += kBlockStarts;
            }
            if (i > lastStart - 63) break;
            std::uint64_t bits = 0;
            for (std::size_t lane = 0; lane < 64; lane += Lanes::kWidth) {
                bits |= Lanes::Candidates(firstBytes + i + lane, lastBytes + i + lane, firstValue, lastValue) << lane;
            }
            if (bits != 0) {
                const std::size_t found = matcher.FirstVerified(data, i, bits);
                if (found != kNoMatch) return found;
            }
        }
        return matcher.FindScalar(data, i, lastStart);
    }

    // One instance per instruction set, with the loop and the lane compares
    // inlined into it and so built for that set.
    __attribute__((target("avx2"), flatten)) static std::size_t FindAvx2(const PatternMatcher& matcher,
                                                                          const std::uint8_t* data,
                                                                          std::size_t lastStart) {
        return Find<Avx2Lanes>(matcher, data, lastStart);
    }

    __attribute__((target("sse2"), flatten)) static std::size_t FindSse2(const PatternMatcher& matcher,
                                                                          const std::uint8_t* data,
                                                                          std::size_t lastStart) {
        return Find<Sse2Lanes>(matcher, data, lastStart);
    }
};

bool PatternMatcher::Supports(MatcherFilter filter) {
    __builtin_cpu_init();
    switch (filter) {
        case MatcherFilter::Avx2: return __builtin_cpu_supports("avx2");
        case MatcherFilter::Sse2: return __builtin_cpu_supports("sse2");
        case MatcherFilter::Scalar: break;
    }
    return true;
}

std::size_t PatternMatcher::FindVector(MatcherFilter filter, const std::uint8_t* data, std::size_t lastStart) const {
    if (filter == MatcherFilter::Avx2) return VectorFilter::FindAvx2(*this, data, lastStart);
    return VectorFilter::FindSse2(*this, data, lastStart);
}

}  // namespace detail
