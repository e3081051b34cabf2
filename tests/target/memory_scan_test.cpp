// The portable read and scan over a fake address space: region borders,
// chunk borders, the ring's end, unreadable and non-code regions, partial
// copies and the range.
#include "target/memory_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/fake_address_space.h"
#include "target/pattern_matcher.h"

namespace {

using namespace detail;

constexpr std::uint64_t kMiB = 0x100000;
constexpr std::uint64_t kNone = ~std::uint64_t{0};
const std::vector<std::uint8_t> kHit = {0xde, 0xad, 0x77, 0xef};  // matches DeadEf()

BytePattern DeadEf() {
    return BytePattern{{0xde, 0xad, 0x00, 0xef}, {1, 1, 0, 1}};
}

// The match address, or kNone.
std::uint64_t Scan(FakeAddressSpace& space, std::uint64_t start, std::uint64_t end, bool executableOnly = false,
                   const BytePattern& pattern = DeadEf()) {
    std::uint64_t match = 0;
    return ScanForPattern(space, pattern, start, end, executableOnly, match) ? match : kNone;
}

TEST(ReadExact, ReadsOnlyWithinOneReadableRegion) {
    FakeAddressSpace space;
    space.Add(0x100000, 0x2000).bytes[0x10] = 0x42;
    space.Add(0x102000, 0x1000, kPageReadOnly);  // readable, right after the first
    space.Add(0x103000, 0x1000, kPageReadWrite | kPageGuard);
    space.Add(0x104000, 0x1000, kPageNoAccess);
    space.Add(0x105000, 0x1000, kPageReadWrite, kMemReserve);
    space.Add(0x106000, 0x1000).partialCopies = 1;
    space.Add(0x107000, 0x1000).shortRead = true;
    space.Add(0x108000, 0x1000).queryFails = true;
    const struct {
        const char* what;
        std::uint64_t address;
        std::uint64_t size;
        bool ok;
    } cases[] = {
        {"inside", 0x100010, 1, true},
        {"up to the region's last byte", 0x100000, 0x2000, true},
        {"no bytes", 0x100fff, 0, true},
        {"past the region's end into readable pages", 0x101fff, 2, false},
        {"a size that wraps around", 0x100010, kNone - 8, false},
        {"guard page", 0x103000, 1, false},
        {"no-access page", 0x104000, 1, false},
        {"reserved page", 0x105000, 1, false},
        {"no bytes of an unreadable page", 0x104000, 0, false},
        {"free memory", 0x200000, 1, false},
        {"partial copy", 0x106000, 4, false},
        {"short read", 0x107000, 4, false},
        {"failed query", 0x108000, 4, false},
    };
    for (const auto& c : cases) {
        std::uint8_t buffer[0x2000] = {};
        EXPECT_EQ(ReadExact(space, c.address, buffer, c.size), c.ok) << c.what;
        if (c.ok && c.address == 0x100010) {
            EXPECT_EQ(buffer[0], 0x42);
        }
    }
    EXPECT_FALSE(space.ReadAnyOf(0x103000, 0x3000)) << "unreadable regions are never read";
}

// Where the pattern sits decides whether and where the scan finds it.
// Every scan test runs over a space that reads one range per call, as
// Windows does, and over one that reads many small regions per call, as
// Linux does: the results are the same.
class ScanForPattern : public ::testing::TestWithParam<std::size_t> {
protected:
    FakeAddressSpace NewSpace() const {
        FakeAddressSpace space;
        space.rangesPerRead = GetParam();
        return space;
    }
};

TEST_P(ScanForPattern, FindsWindowsWithinOneRegionOnly) {
    const std::uint64_t base = 0x1000000;
    const struct {
        const char* what;
        std::uint64_t regionSize;
        std::vector<std::uint64_t> hits;  // offsets from base; a 6 MiB region follows the first
        std::uint64_t start;              // offset from base
        std::uint64_t end;                // offset from base
        std::uint64_t expected;           // offset from base, or kNone
    } cases[] = {
        {"at the first byte", 6 * kMiB, {0}, 0, 12 * kMiB, 0},
        {"on the region's last bytes", 6 * kMiB, {6 * kMiB - 4}, 0, 12 * kMiB, 6 * kMiB - 4},
        {"across two regions: not found", 6 * kMiB, {6 * kMiB - 2}, 0, 12 * kMiB, kNone},
        {"across two regions, then in the second", 6 * kMiB, {6 * kMiB - 2, 6 * kMiB + 9}, 0, 12 * kMiB, 6 * kMiB + 9},
        {"across the first chunk border", 6 * kMiB, {2 * kMiB - 3}, 0, 12 * kMiB, 2 * kMiB - 3},
        {"across the ring's end", 6 * kMiB, {4 * kMiB - 1}, 0, 12 * kMiB, 4 * kMiB - 1},
        {"across the third chunk border", 9 * kMiB, {6 * kMiB - 1}, 0, 12 * kMiB, 6 * kMiB - 1},
        {"across the ring's end the second time", 9 * kMiB, {8 * kMiB - 2}, 0, 12 * kMiB, 8 * kMiB - 2},
        {"in the last chunk after the ring wrapped", 6 * kMiB, {5 * kMiB + 7}, 0, 12 * kMiB, 5 * kMiB + 7},
        {"the lowest of several", 6 * kMiB, {5 * kMiB, 2 * kMiB - 1, 3 * kMiB}, 0, 12 * kMiB, 2 * kMiB - 1},
        {"a chunk border where the scan starts", 6 * kMiB, {kMiB + 2 * kMiB - 2}, kMiB, 12 * kMiB, 3 * kMiB - 2},
        {"before the start: not found", 6 * kMiB, {0x80}, 0x81, 12 * kMiB, kNone},
        {"after a start inside the region", 6 * kMiB, {0x80, 0x200}, 0x81, 12 * kMiB, 0x200},
        {"exact-length range", 6 * kMiB, {0x300}, 0x300, 0x304, 0x300},
        {"range one byte short", 6 * kMiB, {0x300}, 0x300, 0x303, kNone},
        {"end cuts the window in the second region", 6 * kMiB, {6 * kMiB + 10}, 0, 6 * kMiB + 13, kNone},
        {"empty range", 6 * kMiB, {0x300}, 0x300, 0x300, kNone},
        {"start above end", 6 * kMiB, {0x300}, 0x304, 0x300, kNone},
        {"in a small region", 4, {0}, 0, 12 * kMiB, 0},
        {"a small region, then the next", 3, {3}, 0, 12 * kMiB, 3},
    };
    for (const auto& c : cases) {
        FakeAddressSpace space = NewSpace();
        space.Add(base, c.regionSize);
        space.Add(base + c.regionSize, 6 * kMiB);
        for (std::uint64_t hit : c.hits) {
            // A hit across the border is written in two parts.
            for (std::size_t i = 0; i < kHit.size(); ++i) space.Put(base + hit + i, {kHit[i]});
        }
        const std::uint64_t found = Scan(space, base + c.start, base + c.end);
        EXPECT_EQ(found == kNone ? kNone : found - base, c.expected) << c.what;
    }
}

TEST_P(ScanForPattern, SkipsUnreadableAndNonCodeRegions) {
    FakeAddressSpace space = NewSpace();
    const std::uint32_t protections[] = {kPageNoAccess,
                                         kPageReadWrite | kPageGuard,
                                         kPageExecuteRead | kPageGuard,
                                         kPageExecuteWriteCopy,
                                         kPageReadWrite,
                                         kPageExecuteRead};
    std::uint64_t base = 0x100000;
    for (std::uint32_t protect : protections) {
        space.Add(base, 0x1000, protect).bytes.assign({0xde, 0xad, 0, 0xef});
        base += 0x10000;  // free memory between the regions
    }
    space.Add(base, 0x1000, kPageExecuteRead, kMemReserve).bytes.assign({0xde, 0xad, 0, 0xef});

    EXPECT_EQ(Scan(space, 0, kNone, false), 0x130000u) << "execute-write-copy is readable";
    EXPECT_FALSE(space.ReadAnyOf(0x100000, 0x30000)) << "guarded and no-access regions are never read";
    space.reads.clear();
    EXPECT_EQ(Scan(space, 0, kNone, true), 0x150000u) << "only execute-read counts as code";
    EXPECT_FALSE(space.ReadAnyOf(0x100000, 0x50000)) << "nor are data regions with the flag";
    EXPECT_EQ(Scan(space, 0x150001, kNone, true), kNone);
    EXPECT_FALSE(space.ReadAnyOf(0x160000, 0x1000)) << "reserved memory is never read";
}

TEST_P(ScanForPattern, RetriesPartialCopiesTwice) {
    const struct {
        const char* what;
        int partialCopies;
        std::uint64_t partialCopyFrom;
        std::uint64_t expected;
    } cases[] = {
        {"two partial copies: found on the third attempt", 2, 0, 0x1000010},
        {"three partial copies end the search", 3, 0, kNone},
        {"partial copies in a later chunk: the region is scanned again", 2, 4 * kMiB, 0x1000010},
        {"three in a later chunk", 3, 4 * kMiB, kNone},
    };
    for (const auto& c : cases) {
        FakeAddressSpace space = NewSpace();
        FakeRegion& flaky = space.Add(0x1000000, 6 * kMiB);
        flaky.partialCopies = c.partialCopies;
        flaky.partialCopyFrom = c.partialCopyFrom;
        space.Put(0x1000000 + c.partialCopyFrom + 0x10, kHit);
        space.Add(0x2000000, 0x1000).bytes.assign(kHit.begin(), kHit.end());
        EXPECT_EQ(Scan(space, 0, kNone), c.expected == kNone ? kNone : c.expected + c.partialCopyFrom) << c.what;
        if (c.expected == kNone) {
            EXPECT_FALSE(space.ReadAnyOf(0x2000000, 0x1000)) << c.what;
        }
    }
}

TEST_P(ScanForPattern, CountsPartialCopiesPerRegion) {
    FakeAddressSpace space = NewSpace();
    space.Add(0x100000, 0x1000).partialCopies = 2;
    space.Add(0x200000, 0x1000).partialCopies = 2;
    space.Add(0x300000, 0x1000).bytes.assign(kHit.begin(), kHit.end());
    EXPECT_EQ(Scan(space, 0, kNone), 0x300000u);
}

TEST_P(ScanForPattern, LeavesRegionsThatCannotBeRead) {
    FakeAddressSpace space = NewSpace();
    FakeRegion& shortRead = space.Add(0x100000, 0x1000);
    shortRead.shortRead = true;
    shortRead.bytes.assign(kHit.begin(), kHit.end());
    FakeRegion& failing = space.Add(0x200000, 0x1000);
    failing.readFails = true;
    failing.bytes.assign(kHit.begin(), kHit.end());
    space.Add(0x300000, 0x1000).bytes.assign(kHit.begin(), kHit.end());
    EXPECT_EQ(Scan(space, 0, kNone), 0x300000u);
    EXPECT_EQ(space.reads.size(), 3u) << "no second attempt without a partial copy";
}

TEST_P(ScanForPattern, AFailedQueryEndsTheSearch) {
    FakeAddressSpace space = NewSpace();
    space.Add(0x100000, 0x1000).queryFails = true;
    space.Add(0x300000, 0x1000).bytes.assign(kHit.begin(), kHit.end());
    EXPECT_EQ(Scan(space, 0, kNone), kNone);
    EXPECT_EQ(Scan(space, 0x101000, kNone), 0x300000u);
}

// Every query of a scan lies within one search of the address space, which
// ends however the scan does; a read is no search.
TEST_P(ScanForPattern, RunsAsOneSearchOfTheAddressSpace) {
    FakeAddressSpace space = NewSpace();
    space.Add(0x100000, 0x1000).bytes.assign(kHit.begin(), kHit.end());
    space.Add(0x200000, 0x1000).partialCopies = 3;
    space.Add(0x300000, 0x1000).queryFails = true;
    const struct {
        const char* what;
        std::uint64_t start;
        std::uint64_t expected;
    } cases[] = {
        {"a match", 0, 0x100000},
        {"a third partial copy", 0x100001, kNone},
        {"a failed query", 0x201000, kNone},
        {"the end of the range", 0x301000, kNone},
    };
    int searches = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(Scan(space, c.start, kNone), c.expected) << c.what;
        EXPECT_EQ(space.searches, ++searches) << c.what;
        EXPECT_FALSE(space.searching) << c.what;
    }
    EXPECT_EQ(space.queriesOutsideSearch, 0);
    std::uint8_t byte;
    EXPECT_TRUE(ReadExact(space, 0x100000, &byte, 1));
    EXPECT_EQ(space.searches, searches);
}

TEST_P(ScanForPattern, ClampsTheRangeToTheApplicationRange) {
    FakeAddressSpace space = NewSpace();
    space.range = AddressRange{0x10000, 0x7FFF0000};
    space.Add(0x8000, 0x10000);
    space.Put(0xFFFE, kHit);  // across the lowest address
    space.Put(0x10004, kHit);
    space.Add(0x7FFE0000, 0x10000);
    space.Put(0x7FFF0000 - 4, kHit);  // on the highest bytes
    space.Add(0x7FFF0000, 0x10000);
    space.Put(0x7FFF0000, kHit);  // above the range

    EXPECT_EQ(Scan(space, 0, kNone), 0x10004u) << "the start is raised to the lowest address";
    EXPECT_FALSE(space.ReadAnyOf(0, 0x10000));
    EXPECT_EQ(Scan(space, 0x10005, kNone), 0x7FFF0000u - 4) << "an end of -1 reaches the top of the range";
    EXPECT_FALSE(space.ReadAnyOf(0x7FFF0000, 0x10000)) << "nothing above the range is read";
    EXPECT_EQ(Scan(space, 0x7FFF0000 - 3, kNone), kNone);

    const int queries = space.queries;
    EXPECT_EQ(Scan(space, kNone - 15, kNone), kNone) << "a negative start finds nothing";
    EXPECT_EQ(Scan(space, 0x7FFF0000, kNone), kNone);
    EXPECT_EQ(space.queries, queries) << "nothing was queried";
}

TEST_P(ScanForPattern, EmptyPatternMatchesAtTheFirstReadableByte) {
    const BytePattern empty;
    FakeAddressSpace space = NewSpace();
    space.Add(0x100000, 0x1000, kPageNoAccess);
    space.Add(0x101000, 0x1000).shortRead = true;
    space.Add(0x102000, 0x1000);
    EXPECT_EQ(Scan(space, 0, kNone, false, empty), 0x102000u);
    EXPECT_EQ(Scan(space, 0x102010, kNone, false, empty), 0x102010u);
    EXPECT_EQ(Scan(space, 0x102010, 0x102010, false, empty), kNone);
}

TEST_P(ScanForPattern, RefusesPatternsLongerThanAChunk) {
    FakeAddressSpace space = NewSpace();
    space.Add(0x1000000, 3 * kMiB);
    // One chunk long: fixed first and last bytes, wildcards between.
    BytePattern chunkLong;
    chunkLong.bytes.assign(kScanChunkSize, 0);
    chunkLong.mask.assign(kScanChunkSize, 0);
    chunkLong.bytes.front() = 0x11;
    chunkLong.bytes.back() = 0x22;
    chunkLong.mask.front() = chunkLong.mask.back() = 1;
    space.Put(0x1000000 + kMiB, {0x11});
    space.Put(0x1000000 + kMiB + kScanChunkSize - 1, {0x22});
    EXPECT_EQ(Scan(space, 0, kNone, false, chunkLong), 0x1000000 + kMiB);

    BytePattern tooLong = chunkLong;
    tooLong.bytes.push_back(0);
    tooLong.mask.push_back(0);
    EXPECT_EQ(Scan(space, 0, kNone, false, tooLong), kNone);
    BytePattern unevenMask = DeadEf();
    unevenMask.mask.pop_back();
    EXPECT_EQ(Scan(space, 0, kNone, false, unevenMask), kNone);
}

// A straightforward model of the search: region by region, every window
// that lies wholly within the clamped range and one readable region.
std::uint64_t ModelScan(const std::vector<FakeRegion>& regions, const AddressRange& range, const BytePattern& pattern,
                        std::uint64_t start, std::uint64_t end, bool executableOnly) {
    start = std::max(start, range.lowest);
    end = std::min(end, range.end);
    for (const FakeRegion& region : regions) {
        MemoryRegion kind;
        ClassifyWindowsRegion(region.state, region.protect, kind);
        const std::uint64_t from = std::max(start, region.base);
        const std::uint64_t to = std::min(end, region.base + region.bytes.size());
        if (!kind.readable || (executableOnly && !kind.executable) || from >= to) continue;
        const std::size_t k = FindFirstByPosition(pattern, region.bytes.data() + (from - region.base), to - from);
        if (k != kNoMatch) return from + k;
    }
    return kNone;
}

TEST_P(ScanForPattern, AgreesWithAModelOnRandomLayouts) {
    std::mt19937_64 random(20240601);
    auto pick = [&](std::uint64_t below) { return random() % below; };
    const std::uint64_t sizes[] = {1, 7, 0x1000, 2 * kMiB - 5, 2 * kMiB, 2 * kMiB + 3, 4 * kMiB + 1, 5 * kMiB};
    const std::uint32_t protections[] = {kPageReadWrite, kPageExecuteRead, kPageExecuteWriteCopy, kPageNoAccess,
                                         kPageExecuteRead | kPageGuard};
    for (int round = 0; round < 40; ++round) {
        BytePattern pattern;
        const std::size_t length = static_cast<std::size_t>(pick(9));
        for (std::size_t j = 0; j < length; ++j) {
            pattern.bytes.push_back(static_cast<std::uint8_t>(1 + pick(3)));
            pattern.mask.push_back(pick(4) != 0);
        }
        FakeAddressSpace space = NewSpace();
        std::vector<FakeRegion> regions;
        std::uint64_t base = 0x100000;
        for (int r = 0, count = 1 + static_cast<int>(pick(4)); r < count; ++r) {
            const std::uint64_t size = sizes[pick(std::size(sizes))];
            FakeRegion& region = space.Add(base, size, protections[pick(std::size(protections))]);
            // Rare occurrences near the borders that matter, over a background of zeros.
            for (int h = 0; h < 3 && length > 0; ++h) {
                const std::uint64_t near[] = {0, size, 2 * kMiB, 4 * kMiB, pick(size)};
                const std::int64_t at = static_cast<std::int64_t>(near[pick(std::size(near))] + pick(2 * length + 1)) -
                                        static_cast<std::int64_t>(length);
                for (std::int64_t j = std::max<std::int64_t>(0, -at); j < static_cast<std::int64_t>(length); ++j) {
                    if (at + j < static_cast<std::int64_t>(size)) region.bytes[at + j] = pattern.bytes[j];
                }
            }
            regions.push_back(region);
            base += size + (pick(2) == 0 ? 0 : 0x1000);  // adjacent, or a gap of free memory
        }
        const std::uint64_t start = 0x100000 + pick(base - 0x100000);
        const std::uint64_t end = pick(3) == 0 ? kNone : start + pick(base - start + 1);
        const bool executableOnly = pick(2) == 0;
        EXPECT_EQ(Scan(space, start, end, executableOnly, pattern),
                  ModelScan(regions, space.range, pattern, start, end, executableOnly))
            << "round " << round;
    }
}

// Runs of small regions are read many per call, each region's windows
// tested within it; regions the scan skips are not read.
TEST(ScanForPatternManyPerCall, ReadsRunsOfSmallRegionsTogether) {
    FakeAddressSpace space;
    space.rangesPerRead = 64;
    const std::uint32_t protections[] = {kPageReadWrite, kPageNoAccess, kPageExecuteRead};
    for (std::uint64_t r = 0; r < 300; ++r) space.Add(0x100000 + r * 0x1000, 0x1000, protections[r % 3]);
    // Across the border of two readable regions, which holds no window.
    space.Put(0x100000 + 270 * 0x1000 - 2, {kHit[0], kHit[1]});
    space.Put(0x100000 + 270 * 0x1000, {kHit[2], kHit[3]});
    space.Put(0x100000 + 273 * 0x1000 + 8, kHit);  // read-write
    space.Put(0x100000 + 275 * 0x1000 + 8, kHit);  // code
    EXPECT_EQ(Scan(space, 0, kNone), 0x100000u + 273 * 0x1000 + 8);
    EXPECT_LE(space.rangeReads, 5) << "182 readable regions, 64 per call";
    space.reads.clear();
    EXPECT_EQ(Scan(space, 0, kNone, true), 0x100000u + 275 * 0x1000 + 8);
    for (std::uint64_t r = 0; r < 300; r += 3) {
        ASSERT_FALSE(space.ReadAnyOf(0x100000 + r * 0x1000, 0x1000)) << "a data region read by a code search";
    }
}

// Regions whose borders are not 64-byte aligned: keeping each byte in line
// can push a region's ring offset past the first chunk, where a large region
// behind it no longer fits. It is then left to the region-by-region scan and
// found whole, and no read reaches past the ring.
TEST(ScanForPatternManyPerCall, KeepsReadsInsideTheRingWhenBordersAreNotInLine) {
    FakeAddressSpace space;
    space.rangesPerRead = 256;
    space.Add(0x10000, 2 * kMiB - 16);
    const std::uint64_t large = 0x10000 + 2 * kMiB - 16 + 32;
    space.Add(large, 8 * kMiB);
    space.Put(large + 8 * kMiB - kHit.size(), kHit);
    EXPECT_EQ(Scan(space, 0, kNone), large + 8 * kMiB - kHit.size());
    for (const auto& read : space.reads) EXPECT_LE(read.second, kScanChunkSize);
}

// Every byte a scan reads lands at the same place within a 64-byte line as
// it has in the target, wherever the search starts: the kernel's copy is much
// slower otherwise. Patterns across the ring's end are still found.
TEST_P(ScanForPattern, ReadsEachByteToItsPlaceWithinALine) {
    FakeAddressSpace space = NewSpace();
    space.Add(0x1000000, 5 * kMiB);
    for (std::uint64_t r = 0; r < 40; ++r) space.Add(0x2000000 + r * 0x2000, 0x1000);
    const std::uint64_t acrossTheRingEnd = 0x1000000 + 4 * kMiB - 2;  // from a start in line with the region
    space.Put(acrossTheRingEnd, kHit);
    for (std::uint64_t skew : {0u, 1u, 2u, 33u, 63u, 0xFFFu}) {
        SCOPED_TRACE(skew);
        EXPECT_EQ(Scan(space, 0x1000000 + skew, kNone), acrossTheRingEnd);
        EXPECT_EQ(Scan(space, acrossTheRingEnd + 1, kNone), kNone);
        EXPECT_EQ(Scan(space, 0x2000000 + skew, kNone), kNone);
        EXPECT_EQ(space.readsOutOfLine, 0);
    }
}

// Regions a search skips are queried a bounded number of times each, however
// many of them follow each other: a code search among thousands of data
// regions, and a data search among thousands of no-access regions.
TEST_P(ScanForPattern, QueriesEachSkippedRegionABoundedNumberOfTimes) {
    for (std::uint32_t protect : {kPageReadWrite, kPageNoAccess}) {
        FakeAddressSpace space = NewSpace();
        for (std::uint64_t r = 0; r < 3000; ++r) space.Add(0x100000 + r * 0x1000, 0x1000, protect);
        EXPECT_EQ(Scan(space, 0, kNone, protect == kPageReadWrite), kNone);
        EXPECT_LT(space.queries, 3 * 3000) << "protection " << protect;
    }
}

INSTANTIATE_TEST_SUITE_P(OneRangePerCallAndMany, ScanForPattern, ::testing::Values(std::size_t{1}, std::size_t{64}));

}  // namespace
