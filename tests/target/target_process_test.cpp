// Target process access against a real child process whose memory the test
// lays out (see target_child.cpp).
#include "target/target_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "target_process_fixture.h"

namespace {

TEST(TargetProcessOpen, FailsForAProcessThatDoesNotExist) {
    EXPECT_EQ(OpenTarget(0), nullptr);
    EXPECT_EQ(OpenTarget(0xFFFFFFFF), nullptr);
}

// There is no empty target: a "no handle" value would stand for a process
// (on Windows ~0 is the companion's own), so only a successful open makes one.
static_assert(!std::is_default_constructible_v<TargetProcess>, "only OpenTarget makes a target");
static_assert(!std::is_constructible_v<TargetProcess, std::uintptr_t, std::uint32_t>, "only OpenTarget makes a target");
static_assert(!std::is_copy_constructible_v<TargetProcess> && !std::is_move_constructible_v<TargetProcess>,
              "a target has one owner");

TEST_F(TargetProcessTest, ReadsExactlyWithinOneRegion) {
    // Block 0: two read-write pages, then a read-only page right after them.
    Start({"rw*2,r*1,@0=0102030405,@8188=a1a2a3a4,@8192=b1b2", "rw*1,none*1,guard*1"});
    const std::uint64_t rw = Block(0);
    std::vector<std::uint8_t> bytes;

    ASSERT_TRUE(Read(rw, bytes, 5));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
    ASSERT_TRUE(Read(rw + 2 * kPage - 4, bytes, 4)) << "a read ending on the region's last byte";
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0xa1, 0xa2, 0xa3, 0xa4}));
    ASSERT_TRUE(Read(rw + 2 * kPage, bytes, 2)) << "the read-only page";
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0xb1, 0xb2}));
    EXPECT_TRUE(Read(rw + 3, bytes, 0)) << "no bytes";
    EXPECT_TRUE(Read(rw + 100, bytes, 2 * kPage - 100)) << "across a page border inside the region";

    EXPECT_FALSE(Read(rw + 2 * kPage - 4, bytes, 6)) << "leaves the region into readable pages";
    EXPECT_EQ(bytes[0], 0xCC) << "a refused read copies nothing";
    EXPECT_FALSE(Read(Block(1) + kPage, bytes, 1)) << "no-access page";
    EXPECT_FALSE(Read(Block(1) + 2 * kPage, bytes, 1)) << "guard page";
    EXPECT_FALSE(Read(Block(1) + 2 * kPage, bytes, 1)) << "the guard page is still guarded";
    std::uint8_t small[8] = {};
    EXPECT_FALSE(ReadTargetMemory(*target_, rw + 8, small, ~std::uint64_t{0} - 4)) << "a size that wraps around";
}

TEST_F(TargetProcessTest, FindsTheLowestMatchWithinTheRange) {
    // Block 0: a read-write page and an executable page, each with the pattern.
    // Block 1: the pattern across the border of two regions, then whole at the
    // very end of the second region.
    Start(
        {"rw*1,rx*1,@100=deadbeef,@4200=de00beef", "rw*1,r*1,@4094=deadbeef,@8188=deadbeef", "guard-rx*1,@0=deadbeef"});
    const BytePattern pattern = Pattern({0xde, 0xad, 0xbe, 0xef}, {1, 0, 1, 1});
    std::uint64_t match = 0;

    ASSERT_TRUE(Find(pattern, Block(0), Block(0) + 2 * kPage, false, match));
    EXPECT_EQ(match, Block(0) + 100);
    ASSERT_TRUE(Find(pattern, Block(0), Block(0) + 2 * kPage, true, match));
    EXPECT_EQ(match, Block(0) + 4200) << "executable regions only";
    ASSERT_TRUE(Find(pattern, Block(0) + 101, Block(0) + 2 * kPage, false, match));
    EXPECT_EQ(match, Block(0) + 4200) << "start after the first match";
    EXPECT_FALSE(Find(pattern, Block(0) + 101, Block(0) + 4203, false, match)) << "end cuts the window";

    ASSERT_TRUE(Find(pattern, Block(1), Block(1) + 2 * kPage, false, match));
    EXPECT_EQ(match, Block(1) + 8188) << "not across the region border, but on the last bytes";

    EXPECT_FALSE(Find(pattern, Block(2), Block(2) + kPage, true, match)) << "guarded code";
    EXPECT_FALSE(Find(pattern, Block(2), Block(2) + kPage, false, match)) << "guarded code";
}

TEST_F(TargetProcessTest, WalksFromRegionToRegionAcrossUnreadableMemory) {
    // Two pages full of one byte; between them at least their no-access
    // neighbours or free memory.
    Start({"rw*1,fill=5c", "rw*1,fill=5c"});
    const std::uint64_t low = std::min(Block(0), Block(1));
    const std::uint64_t high = std::max(Block(0), Block(1));
    const BytePattern run = Pattern(std::vector<std::uint8_t>(16, 0x5c), std::vector<std::uint8_t>(16, 1));
    std::uint64_t match = 0;
    ASSERT_TRUE(Find(run, low, high + kPage, false, match));
    EXPECT_EQ(match, low);
    ASSERT_TRUE(Find(run, low + kPage - 15, high + kPage, false, match));
    EXPECT_EQ(match, high) << "no window across the gap";
    EXPECT_FALSE(Find(run, low, high + kPage, true, match)) << "no code among them";
}

// Hundreds of one-page mappings, as a heap of small allocations has: each
// mapping's windows are tested within it, however many mappings one read
// takes, and the search gives the lowest match.
TEST_F(TargetProcessTest, FindsTheLowestMatchAmongManySmallMappings) {
    const BytePattern marker = RandomMarker();
    const std::string text = HexText(marker.bytes);
    auto at = [&](std::uint64_t page, std::uint64_t offset) {
        return "@" + std::to_string(page * kPage + offset) + "=" + text;
    };
    // Pages read-write, read-only and no access in turn, each its own
    // mapping; the marker across the border of pages 399 and 400 (both
    // readable), then in pages 700 and 850 (read-only).
    Start({"rw*1,r*1,none*1,repeat=300," + at(399, kPage - 8) + "," + at(700, 100) + "," + at(850, 8)});
    std::uint64_t match = 0;
    ASSERT_TRUE(Find(marker, Block(0), Block(0) + 900 * kPage, false, match));
    EXPECT_EQ(match, Block(0) + 700 * kPage + 100);
    ASSERT_TRUE(Find(marker, Block(0) + 700 * kPage + 101, Block(0) + 900 * kPage, false, match));
    EXPECT_EQ(match, Block(0) + 850 * kPage + 8);
    EXPECT_FALSE(Find(marker, Block(0), Block(0) + 900 * kPage, true, match)) << "no code among them";
}

// A data search over the whole range reaches the top of the address space:
// on Linux the main thread's stack lies above the kernel's [vvar] mappings,
// which the map lists as readable but no read reaches.
TEST_F(TargetProcessTest, DataSearchOverTheWholeRangeReachesTheMainThreadsStack) {
    const BytePattern marker = RandomMarker();
    Start({"stack=" + HexText(marker.bytes)});
    std::uint64_t match = 0;
    ASSERT_TRUE(Find(marker, 0, kWholeRange, false, match));
    EXPECT_EQ(match, child_.stack);
}

// While another thread of the target keeps mapping and unmapping pages, a
// search gives the lowest address of the pattern or nothing, never another
// address; most searches find it.
TEST_F(TargetProcessTest, SearchesWhileTheMapChanges) {
    const BytePattern marker = RandomMarker();
    Start({"churn", "stack=" + HexText(marker.bytes), "rw*4,random=3"});
    int found = 0;
    for (int search = 0; search < 20; ++search) {
        std::uint64_t match = 0;
        if (!Find(marker, 0, kWholeRange, false, match)) continue;
        EXPECT_EQ(match, child_.stack);
        ++found;
    }
    EXPECT_GT(found, 10);
}

TEST_F(TargetProcessTest, FindsPatternsAcrossChunksAndTheRingEnd) {
    // 5 MiB: scans read 2 MiB chunks into a 4 MiB ring.
    Start({"rw*1280,@2097150=5a5a5a5a,@4194302=a5a5a5a5"});
    std::uint64_t match = 0;
    ASSERT_TRUE(Find(Pattern({0x5a, 0x5a, 0x5a, 0x5a}, {1, 1, 1, 1}), Block(0), Block(0) + 1280 * kPage, false, match));
    EXPECT_EQ(match, Block(0) + 0x200000 - 2);
    ASSERT_TRUE(Find(Pattern({0xa5, 0xa5, 0xa5, 0xa5}, {1, 1, 1, 1}), Block(0), ~std::uint64_t{0}, false, match));
    EXPECT_EQ(match, Block(0) + 0x400000 - 2);
}

std::string SwapCase(std::string name) {
    for (char& c : name) {
        c = std::isupper(static_cast<unsigned char>(c))
                ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

TEST_F(TargetProcessTest, FindsModulesByExactName) {
    Start({});
    for (const ChildModule* module : {&child_.executable, &child_.library}) {
        SCOPED_TRACE(module->name);
        std::uint64_t base = 0;
        std::uint64_t size = 0;
        ASSERT_TRUE(FindModule(*target_, module->name.c_str(), base, size));
        EXPECT_EQ(base, module->base);
        EXPECT_GT(module->inside, base);
        EXPECT_LT(module->inside, base + size);
        EXPECT_FALSE(FindModule(*target_, SwapCase(module->name).c_str(), base, size));
    }
    // The program's zero-initialised globals lie within its extent (on Linux
    // in the anonymous mapping after its file's last mapping).
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    ASSERT_TRUE(FindModule(*target_, child_.executable.name.c_str(), base, size));
    EXPECT_GE(child_.zeroInitialisedGlobal, base);
    EXPECT_LE(child_.zeroInitialisedGlobal + 16, base + size);
    EXPECT_FALSE(FindModule(*target_, "no_such_module.dll", base, size));
    EXPECT_FALSE(FindModule(*target_, "", base, size));
    EXPECT_FALSE(FindModule(*target_, nullptr, base, size));
}

TEST_F(TargetProcessTest, WaitsForTheProcessToEnd) {
    Start({});
    EXPECT_FALSE(WaitForExit(*target_, 0));
    EXPECT_FALSE(WaitForExit(*target_, 50));
    child_.process.CloseInput();
    EXPECT_TRUE(WaitForExit(*target_, 20000));
    EXPECT_TRUE(WaitForExit(*target_, 0)) << "stays ended";
}

}  // namespace
