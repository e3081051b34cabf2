#pragma once
// Finding the first window of a byte buffer that matches a BytePattern.
//
// PatternMatcher is the fast matcher the scan uses: a vector filter on the
// first and last fixed bytes of the pattern, chosen at run time by CPU
// features, with each candidate then verified byte by byte.
// FindFirstByPosition is the plain compare of every window, position by
// position; the fast matcher returns exactly what it returns, on every input.
//
// Both require a pattern whose bytes and mask have the same length. The
// portable part is pattern_matcher.cpp; the vector filters and the CPU test
// are in one file per processor family, picked by the build
// (pattern_matcher_x86.cpp, or pattern_matcher_scalar.cpp without vectors).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "target/target_process.h"

namespace detail {

constexpr std::size_t kNoMatch = static_cast<std::size_t>(-1);

// The candidate filters, from the plain loop to the widest vectors.
enum class MatcherFilter { Scalar, Sse2, Avx2 };

struct VectorFilter;

class PatternMatcher {
public:
    explicit PatternMatcher(const BytePattern& pattern);

    std::size_t Length() const { return length_; }

    // The lowest offset i such that the window data[i, i + Length()) lies in
    // data[0, size) and matches, or kNoMatch. Uses BestFilter().
    std::size_t FindFirst(const std::uint8_t* data, std::size_t size) const;

    // The same with a given filter, which this CPU must support.
    std::size_t FindFirstWith(MatcherFilter filter, const std::uint8_t* data, std::size_t size) const;

    // The widest filter this CPU supports, chosen once.
    static MatcherFilter BestFilter();
    static bool Supports(MatcherFilter filter);
    static const char* FilterName(MatcherFilter filter);

private:
    friend struct VectorFilter;  // the vector loops of the processor family's file

    struct FixedByte {
        std::size_t offset;
        std::uint8_t value;
    };

    // Tests the fixed bytes between the first and the last one; the filter
    // has already compared those two.
    bool InteriorMatches(const std::uint8_t* window) const;
    // The lowest verified window among the candidates: bit i of `candidates`
    // stands for the window at offset `at` + i. kNoMatch when none matches.
    std::size_t FirstVerified(const std::uint8_t* data, std::size_t at, std::uint64_t candidates) const;
    std::size_t FindScalar(const std::uint8_t* data, std::size_t from, std::size_t lastStart) const;
    // With a vector filter (not Scalar) that this CPU supports: the windows
    // starting at 0 .. lastStart. Defined by the processor family's file.
    std::size_t FindVector(MatcherFilter filter, const std::uint8_t* data, std::size_t lastStart) const;

    std::size_t length_ = 0;
    bool hasFixed_ = false;
    FixedByte first_{0, 0};
    FixedByte last_{0, 0};
    std::vector<FixedByte> interior_;
};

// The position-by-position compare: windows in ascending order of offset,
// the positions of each window in ascending order.
std::size_t FindFirstByPosition(const BytePattern& pattern, const std::uint8_t* data, std::size_t size);

}  // namespace detail
