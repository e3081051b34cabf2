// The fast matcher returns exactly what the position-by-position compare
// returns, with every filter this CPU supports.
#include "target/pattern_matcher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace detail;

std::vector<MatcherFilter> SupportedFilters() {
    std::vector<MatcherFilter> filters;
    for (MatcherFilter filter : {MatcherFilter::Scalar, MatcherFilter::Sse2, MatcherFilter::Avx2}) {
        if (PatternMatcher::Supports(filter)) filters.push_back(filter);
    }
    return filters;
}

void ExpectSameAsByPosition(const BytePattern& pattern, const std::vector<std::uint8_t>& data, const char* what) {
    const PatternMatcher matcher(pattern);
    const std::size_t expected = FindFirstByPosition(pattern, data.data(), data.size());
    for (MatcherFilter filter : SupportedFilters()) {
        ASSERT_EQ(matcher.FindFirstWith(filter, data.data(), data.size()), expected)
            << what << ", filter " << PatternMatcher::FilterName(filter) << ", size " << data.size()
            << ", pattern length " << pattern.bytes.size();
    }
}

TEST(PatternMatcher, EdgeCases) {
    const BytePattern empty;
    const BytePattern wildcards{{1, 2, 3}, {0, 0, 0}};
    const BytePattern one{{7}, {1}};
    const BytePattern framed{{7, 0, 9}, {1, 0, 1}};
    const std::vector<std::uint8_t> none;
    const std::vector<std::uint8_t> two = {7, 9};
    const std::vector<std::uint8_t> exact = {7, 8, 9};
    EXPECT_EQ(PatternMatcher(empty).FindFirst(none.data(), 0), 0u) << "empty pattern, no bytes";
    EXPECT_EQ(PatternMatcher(wildcards).FindFirst(exact.data(), 3), 0u) << "only wildcards";
    EXPECT_EQ(PatternMatcher(wildcards).FindFirst(two.data(), 2), kNoMatch) << "only wildcards, too few bytes";
    EXPECT_EQ(PatternMatcher(one).FindFirst(two.data(), 2), 0u);
    EXPECT_EQ(PatternMatcher(framed).FindFirst(exact.data(), 3), 0u) << "pattern as long as the data";
    EXPECT_EQ(PatternMatcher(framed).FindFirst(two.data(), 2), kNoMatch);
}

// A single match at every position around the vector loop's 64-byte steps
// and 256-byte blocks, including the last window, over sizes around them.
TEST(PatternMatcher, FindsAMatchAtEveryPosition) {
    const BytePattern patterns[] = {
        {{0xaa, 0, 0xbb, 0, 0, 0, 0xcc}, {1, 0, 1, 0, 0, 0, 1}},
        {{0, 0xaa, 0xbb}, {0, 1, 1}},
        {{0xaa}, {1}},
        {{0xaa, 0xbb, 0xaa, 0xcc, 0xaa}, {1, 1, 1, 1, 1}},
    };
    for (const BytePattern& pattern : patterns) {
        for (std::size_t size : {1u, 63u, 64u, 65u, 70u, 127u, 128u, 129u, 200u, 255u, 256u, 257u, 262u, 320u, 519u, 700u}) {
            for (std::size_t at = 0; at + pattern.bytes.size() <= size; ++at) {
                std::vector<std::uint8_t> data(size, 0xaa);  // full of the first fixed byte
                for (std::size_t j = 0; j < pattern.bytes.size(); ++j) {
                    if (pattern.mask[j]) data[at + j] = pattern.bytes[j];
                }
                ExpectSameAsByPosition(pattern, data, "planted match");
            }
        }
    }
}

// Without any candidate the vector loop skips whole blocks; it must stop at
// the buffer's end, whatever the size (overreads show under AddressSanitizer).
TEST(PatternMatcher, FindsNothingWhereNothingMatchesAndStopsAtTheEnd) {
    const BytePattern pattern{{0xaa, 0, 0xbb, 0, 0xcc}, {1, 0, 1, 0, 1}};
    for (std::size_t size = 0; size <= 1100; ++size) {
        ExpectSameAsByPosition(pattern, std::vector<std::uint8_t>(size, 0x11), "no candidate");
    }
}

TEST(PatternMatcher, AgreesWithTheByPositionCompareOnRandomInputs) {
    std::mt19937 random(7);
    auto pick = [&](unsigned below) { return static_cast<unsigned>(random() % below); };
    for (int round = 0; round < 20000; ++round) {
        // A small alphabet makes partial matches, and so false candidates, common.
        const unsigned alphabet = 1 + pick(4);
        BytePattern pattern;
        const std::size_t length = pick(24);
        const unsigned wildcardChance = pick(4);  // 0: no wildcards
        for (std::size_t j = 0; j < length; ++j) {
            pattern.bytes.push_back(static_cast<std::uint8_t>(pick(alphabet)));
            pattern.mask.push_back(pick(4) >= wildcardChance);
        }
        std::vector<std::uint8_t> data(pick(800));
        for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(pick(alphabet));
        if (pick(2) == 0 && data.size() >= length) {
            const std::size_t at = pick(static_cast<unsigned>(data.size() - length + 1));
            for (std::size_t j = 0; j < length; ++j) data[at + j] = pattern.bytes[j];
        }
        ExpectSameAsByPosition(pattern, data, "random");
    }
}

}  // namespace
