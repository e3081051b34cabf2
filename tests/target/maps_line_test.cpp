// The lines of a Linux process's memory map as the kernel prints them, and
// lines that describe no mapping.
#include "target/maps_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace detail;

TEST(MapsLine, ReadsAddressesPermissionsAndPath) {
    const struct {
        const char* line;
        std::uint64_t start;
        std::uint64_t end;
        const char* permissions;
        const char* path;
    } cases[] = {
        {"7f52a000-7f52b000 rw-p 00000000 00:00 0 ", 0x7f52a000, 0x7f52b000, "rw-p", ""},  // anonymous
        {"7f52a000-7f52b000 rw-p 00000000 00:00 0", 0x7f52a000, 0x7f52b000, "rw-p", ""},   // no blank after the inode
        {"7f5246215000-7f524623b000 r-xp 00001000 fe:00 332383                     "
         "/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
         0x7f5246215000, 0x7f524623b000, "r-xp", "/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2"},
        {"10000-11000 r--p 00000000 fe:00 12   /home/a b/game data.bin", 0x10000, 0x11000, "r--p",
         "/home/a b/game data.bin"},  // blanks inside the path
        {"10000-11000 rw-s 00000000 00:01 7    /memfd:pool (deleted)", 0x10000, 0x11000, "rw-s",
         "/memfd:pool (deleted)"},
        {"7f7d613a4000-7f7d613a8000 r--p 00000000 00:00 0                          [vvar]", 0x7f7d613a4000,
         0x7f7d613a8000, "r--p", "[vvar]"},
        {"ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0                  [vsyscall]",
         0xffffffffff600000, 0xffffffffff601000, "--xp", "[vsyscall]"},
    };
    for (const auto& c : cases) {
        std::string text = c.line;
        MapsLine parsed;
        ASSERT_TRUE(ParseMapsLine(&text[0], parsed)) << c.line;
        EXPECT_EQ(parsed.start, c.start) << c.line;
        EXPECT_EQ(parsed.end, c.end) << c.line;
        EXPECT_STREQ(parsed.permissions, c.permissions) << c.line;
        EXPECT_STREQ(parsed.path, c.path) << c.line;
    }
}

TEST(MapsLine, RefusesLinesThatDescribeNoMapping) {
    const char* const lines[] = {
        "",
        "Size:                  4 kB",          // the fields of smaps between its mappings
        "AnonHugePages:         0 kB",          // begins with a hex digit
        "VmFlags: rd mr pf io de dd ",
        "7f00 rw-p 00000000 00:00 0",            // no end address
        "-7f10 rw-p 00000000 00:00 0",           // no start address
        "7f00-7f10rw-p 00000000 00:00 0",        // no blank after the range
        "7f10-7f00 rw-p 00000000 00:00 0",       // end below start
        "7f00-7f00 rw-p 00000000 00:00 0",       // empty
        "7f00-7f10 rw-p 00000000 00:00",         // no inode
        "7f00-7f10 rw-p 00000000 00:00 ",
        "7f00-7f10",
    };
    for (const char* line : lines) {
        std::string text = line;
        MapsLine parsed;
        EXPECT_FALSE(ParseMapsLine(&text[0], parsed)) << '"' << line << '"';
    }
}

TEST(MapsLine, VmFlagsTellMemoryThatCannotBeRead) {
    const struct {
        const char* line;
        bool isFlags;
        bool cannotBeRead;
    } cases[] = {
        {"VmFlags: rd mr pf io de dd ", true, true},  // [vvar] as the kernel prints it
        {"VmFlags: rd wr sh mr mw me ms io pf dd", true, true},
        {"VmFlags: rd wr mr mw me ac sd", true, false},
        {"VmFlags: rd mr io", true, true},       // the last flag, without a blank after it
        {"VmFlags: rd pf", true, true},
        {"VmFlags: rd iop pfx", true, false},    // whole flags only
        {"VmFlags:", true, false},
        {"VmFlag: rd io", false, false},
        {"Size:                  4 kB", false, false},
        {"7f00-7f10 rw-p 00000000 00:00 0 ", false, false},
    };
    for (const auto& c : cases) {
        bool cannotBeRead = !c.cannotBeRead;
        EXPECT_EQ(ParseVmFlags(c.line, cannotBeRead), c.isFlags) << c.line;
        if (c.isFlags) {
            EXPECT_EQ(cannotBeRead, c.cannotBeRead) << c.line;
        }
    }
}

}  // namespace
