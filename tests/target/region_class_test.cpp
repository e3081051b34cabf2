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
        bool writable;
    } cases[] = {
        {0x1000, 0x02, true, false, false},    // read-only
        {0x1000, 0x04, true, false, true},     // read-write
        {0x1000, 0x08, true, false, true},     // write-copy
        {0x1000, 0x10, true, true, false},     // execute
        {0x1000, 0x20, true, true, false},     // execute-read
        {0x1000, 0x40, true, true, true},      // execute-read-write
        {0x1000, 0x80, true, false, true},     // execute-write-copy is no code region
        {0x1000, 0x204, true, false, true},    // read-write, no-cache
        {0x1000, 0x220, true, false, false},   // execute-read with a modifier bit
        {0x1000, 0x01, false, false, false},   // no access
        {0x1000, 0x104, false, false, false},  // guarded read-write
        {0x1000, 0x120, false, false, false},  // guarded execute-read
        {0x2000, 0x04, false, false, false},   // reserved: never read or written, whatever the protection
        {0x2000, 0x20, false, true, false},
        {0x10000, 0x01, false, false, false},  // free
    };
    for (const auto& c : cases) {
        MemoryRegion region;
        ClassifyWindowsRegion(c.state, c.protect, region);
        EXPECT_EQ(region.readable, c.readable) << std::hex << c.state << " " << c.protect;
        EXPECT_EQ(region.executable, c.executable) << std::hex << c.state << " " << c.protect;
        EXPECT_EQ(region.writable, c.writable) << std::hex << c.state << " " << c.protect;
    }
}

TEST(RegionClass, MapsPermissions) {
    const struct {
        const char* permissions;
        bool readable;
        bool executable;
        bool writable;
    } cases[] = {
        {"r--p", true, false, false}, {"rw-p", true, false, true},   {"r-xp", true, true, false},
        {"rwxp", true, true, true},   {"rw-s", true, false, true},   {"r-xs", true, true, false},
        {"--xp", false, false, false}, {"---p", false, false, false}, {"-w-p", false, false, false},
    };
    for (const auto& c : cases) {
        MapsLine line;
        line.permissions = c.permissions;
        line.path = "/usr/lib/libgame.so";
        MemoryRegion region;
        ClassifyMapsRegion(line, region);
        EXPECT_EQ(region.readable, c.readable) << c.permissions;
        EXPECT_EQ(region.executable, c.executable) << c.permissions;
        EXPECT_EQ(region.writable, c.writable) << c.permissions;
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
