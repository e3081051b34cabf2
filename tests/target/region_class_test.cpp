// Which regions reads and scans may touch, from what each OS reports.
#include "target/region_class.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using namespace detail;

TEST(RegionClass, WindowsStateAndProtection) {
    const struct {
        std::uint32_t state;
        std::uint32_t protect;
        bool readable;
        bool executable;
    } cases[] = {
        {0x1000, 0x02, true, false},    // read-only
        {0x1000, 0x04, true, false},    // read-write
        {0x1000, 0x08, true, false},    // write-copy
        {0x1000, 0x10, true, true},     // execute
        {0x1000, 0x20, true, true},     // execute-read
        {0x1000, 0x40, true, true},     // execute-read-write
        {0x1000, 0x80, true, false},    // execute-write-copy is no code region
        {0x1000, 0x204, true, false},   // read-write, no-cache
        {0x1000, 0x220, true, false},   // execute-read with a modifier bit
        {0x1000, 0x01, false, false},   // no access
        {0x1000, 0x104, false, false},  // guarded read-write
        {0x1000, 0x120, false, false},  // guarded execute-read
        {0x2000, 0x20, false, true},    // reserved: never read, whatever the protection
        {0x10000, 0x01, false, false},  // free
    };
    for (const auto& c : cases) {
        MemoryRegion region;
        ClassifyWindowsRegion(c.state, c.protect, region);
        EXPECT_EQ(region.readable, c.readable) << std::hex << c.state << " " << c.protect;
        EXPECT_EQ(region.executable, c.executable) << std::hex << c.state << " " << c.protect;
    }
}

TEST(RegionClass, MapsPermissions) {
    const struct {
        const char* permissions;
        bool readable;
        bool executable;
    } cases[] = {
        {"r--p", true, false}, {"rw-p", true, false},  {"r-xp", true, true},   {"rwxp", true, true},
        {"r-xs", true, true},  {"--xp", false, false}, {"---p", false, false}, {"-w-p", false, false},
    };
    for (const auto& c : cases) {
        MapsLine line;
        line.permissions = c.permissions;
        line.path = "/usr/lib/libgame.so";
        MemoryRegion region;
        ClassifyMapsRegion(line, region);
        EXPECT_EQ(region.readable, c.readable) << c.permissions;
        EXPECT_EQ(region.executable, c.executable) << c.permissions;
    }
}

// The kernel's [vvar] pages are listed as "r--p", but no read reaches them.
TEST(RegionClass, MapsNamesOfMemoryNoReadReaches) {
    const struct {
        const char* path;
        bool readable;
    } cases[] = {
        {"[vvar]", false}, {"[vvar_vclock]", false}, {"[vdso]", true},        {"[stack]", true},
        {"", true},        {"/tmp/[vvar]", true},    {"[vvar] (deleted)", true},
    };
    for (const auto& c : cases) {
        MapsLine line;
        line.permissions = "r--p";
        line.path = c.path;
        MemoryRegion region;
        ClassifyMapsRegion(line, region);
        EXPECT_EQ(region.readable, c.readable) << c.path;
    }
}

}  // namespace
