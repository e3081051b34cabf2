// The reconnect delay: growth by a random factor in [1, 3) per advance, the
// 60 s ceiling, the reset, and one known value for a known seed.
#include <gtest/gtest.h>

#include <cstdint>

#include "rpc/reconnect_backoff.h"

namespace {

TEST(ReconnectBackoff, StartsAtHalfASecondAndFirstAdvanceStaysBelowOneAndAHalf) {
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        ReconnectBackoff backoff(seed);
        EXPECT_EQ(backoff.currentMs, 500);
        std::int64_t first = backoff.advance_delay();
        EXPECT_GE(first, 500);
        EXPECT_LE(first, 1499);
        EXPECT_EQ(backoff.currentMs, first);
    }
}

TEST(ReconnectBackoff, GrowsByAFactorFromOneToThreeUpToTheCeilingAndStaysThere) {
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        ReconnectBackoff backoff(seed);
        std::int64_t previous = backoff.currentMs;
        bool reachedCeiling = false;
        for (int attempt = 0; attempt < 40; ++attempt) {
            std::int64_t next = backoff.advance_delay();
            ASSERT_LE(next, 60000);
            if (reachedCeiling) {
                ASSERT_EQ(next, 60000) << "seed " << seed;
            } else if (next < 60000) {
                ASSERT_GE(next, previous) << "seed " << seed;
                ASSERT_LT(next, 3 * previous) << "seed " << seed;
            }
            reachedCeiling = next == 60000;
            previous = next;
        }
        // 40 advances from 500 ms reach 60 s for any reasonable draw sequence.
        EXPECT_TRUE(reachedCeiling) << "seed " << seed;
    }
}

TEST(ReconnectBackoff, ResetReturnsToTheMinimum) {
    ReconnectBackoff backoff(7);
    for (int i = 0; i < 30; ++i) backoff.advance_delay();
    ASSERT_EQ(backoff.currentMs, 60000);
    backoff.reset_delay();
    EXPECT_EQ(backoff.currentMs, 500);
    std::int64_t afterReset = backoff.advance_delay();
    EXPECT_GE(afterReset, 500);
    EXPECT_LE(afterReset, 1499);
}

// The engine's first output for its default seed is fixed by the standard
// library's definition of MT19937-64: 14514284786278117030, so r = 0.786...
// and the first delay grows by 2 * 500 * r, truncated.
TEST(ReconnectBackoff, DefaultSeedGivesAKnownFirstDelay) {
    ReconnectBackoff backoff(5489);
    EXPECT_EQ(backoff.advance_delay(), 500 + 786);
}

TEST(ReconnectBackoff, SameSeedSameSequence) {
    ReconnectBackoff a(1234567), b(1234567), c(7654321);
    bool differs = false;
    for (int i = 0; i < 8; ++i) {
        std::int64_t next = a.advance_delay();
        EXPECT_EQ(next, b.advance_delay());
        differs = differs || next != c.advance_delay();
    }
    EXPECT_TRUE(differs);
}

}  // namespace
