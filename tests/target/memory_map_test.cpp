// The copy of a Linux memory map that a search queries: mappings, the gaps
// between them, and mappings marked as never readable.
#include "target/memory_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace detail;

constexpr std::uint64_t kSpaceEnd = 0x800000;

// A map of these maps lines, in their order.
MemoryMap MapOf(const std::vector<std::string>& lines) {
    MemoryMap map(kSpaceEnd);
    for (std::string line : lines) {
        MapsLine parsed;
        EXPECT_TRUE(ParseMapsLine(&line[0], parsed)) << line;
        map.Add(parsed);
    }
    return map;
}

const std::vector<std::string> kLines = {
    "100000-102000 r-xp 00000000 fe:00 1 /usr/bin/game",
    "102000-103000 rw-p 00002000 fe:00 1 /usr/bin/game",
    "200000-201000 r--p 00000000 00:00 0 [vvar]",
    "300000-304000 rw-p 00000000 00:00 0 [stack]",
};

TEST(MemoryMap, AnswersLikeTheWindowsQuery) {
    const MemoryMap map = MapOf(kLines);
    const struct {
        std::uint64_t address;
        bool ok;
        std::uint64_t base;
        std::uint64_t size;
        bool readable;
        bool executable;
    } cases[] = {
        {0x0, true, 0x0, 0x100000, false, false},            // the gap below the first mapping
        {0x100000, true, 0x100000, 0x2000, true, true},
        {0x101fff, true, 0x100000, 0x2000, true, true},
        {0x102000, true, 0x102000, 0x1000, true, false},      // the next mapping, right after
        {0x103000, true, 0x103000, 0xfd000, false, false},    // a gap between mappings
        {0x200800, true, 0x200000, 0x1000, false, false},     // [vvar]: listed r--p, never readable
        {0x303fff, true, 0x300000, 0x4000, true, false},
        {0x304000, true, 0x304000, kSpaceEnd - 0x304000, false, false},  // the gap up to the end
        {kSpaceEnd, false, 0, 0, false, false},
    };
    for (const auto& c : cases) {
        MemoryRegion region;
        ASSERT_EQ(map.Query(c.address, region), c.ok) << std::hex << c.address;
        if (!c.ok) continue;
        EXPECT_EQ(region.base, c.base) << std::hex << c.address;
        EXPECT_EQ(region.size, c.size) << std::hex << c.address;
        EXPECT_EQ(region.readable, c.readable) << std::hex << c.address;
        EXPECT_EQ(region.executable, c.executable) << std::hex << c.address;
    }
    MemoryRegion mapping;
    EXPECT_TRUE(map.MappingAt(0x102800, mapping));
    EXPECT_EQ(mapping.base, 0x102000u);
    EXPECT_FALSE(map.MappingAt(0x103000, mapping)) << "a gap is no mapping";
}

TEST(MemoryMap, IgnoresLinesOutOfOrder) {
    const MemoryMap map = MapOf({"300000-304000 rw-p 00000000 00:00 0", "100000-102000 r-xp 00000000 00:00 0",
                                 "302000-308000 rw-p 00000000 00:00 0", "308000-309000 r--p 00000000 00:00 0"});
    MemoryRegion region;
    ASSERT_TRUE(map.Query(0x100000, region));
    EXPECT_FALSE(region.readable) << "the line below an earlier one is ignored";
    ASSERT_TRUE(map.Query(0x305000, region));
    EXPECT_EQ(region.base, 0x304000u) << "an overlapping line is ignored: a gap";
    EXPECT_FALSE(region.readable);
    ASSERT_TRUE(map.Query(0x308000, region));
    EXPECT_TRUE(region.readable);
}

// Marks hold for the rest of a search: in copies taken again, for the same
// mapping only, until forgotten.
TEST(MemoryMap, KeepsUnreadableMarksAcrossCopies) {
    MemoryMap map = MapOf(kLines);
    MemoryRegion stack;
    ASSERT_TRUE(map.MappingAt(0x300000, stack));
    map.MarkUnreadable(stack);
    MemoryRegion region;
    ASSERT_TRUE(map.Query(0x300000, region));
    EXPECT_FALSE(region.readable);

    const auto takeAgain = [&map](const std::vector<std::string>& lines) {
        map.Clear();
        for (std::string line : lines) {
            MapsLine parsed;
            ParseMapsLine(&line[0], parsed);
            map.Add(parsed);
            if (line.find("/dev/dri") != std::string::npos) map.MarkLastUnreadable();
        }
    };
    takeAgain({kLines[0], "280000-281000 rw-s 00000000 00:05 9 /dev/dri/renderD128", kLines[3]});
    ASSERT_TRUE(map.Query(0x300000, region));
    EXPECT_FALSE(region.readable) << "the same mapping in a new copy";
    ASSERT_TRUE(map.Query(0x280000, region));
    EXPECT_FALSE(region.readable) << "marked as it was added";

    takeAgain({"300000-308000 rw-p 00000000 00:00 0 [stack]", "280000-281000 rw-p 00000000 00:00 0"});
    ASSERT_TRUE(map.Query(0x300000, region));
    EXPECT_TRUE(region.readable) << "another mapping at the same start";

    takeAgain({kLines[3]});
    map.ForgetUnreadable();
    takeAgain({kLines[3]});
    ASSERT_TRUE(map.Query(0x300000, region));
    EXPECT_TRUE(region.readable) << "forgotten";
}

}  // namespace
