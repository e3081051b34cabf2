// A Linux module's extent over the lines of a memory map: the file's
// mappings and the anonymous mapping right after the last of them.
#include "target/module_extent.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using detail::MapsLine;
using detail::ModuleExtent;

const char* const kGame = "/opt/game/bin/game";

MapsLine Line(std::uint64_t start, std::uint64_t end, const char* path) {
    MapsLine line;
    line.start = start;
    line.end = end;
    line.path = path;
    return line;
}

// The extent of kGame's mappings among `lines`, as the backend feeds them.
std::uint64_t SizeOf(const std::vector<MapsLine>& lines) {
    ModuleExtent* extent = nullptr;
    ModuleExtent storage(lines.front());
    for (const MapsLine& line : lines) {
        const bool ours = std::strcmp(line.path, kGame) == 0;
        if (extent == nullptr) {
            if (!ours) continue;
            storage = ModuleExtent(line);
            extent = &storage;
        } else {
            extent->Next(line, ours);
        }
    }
    return extent == nullptr ? 0 : extent->Size();
}

TEST(ModuleExtent, CoversTheAnonymousMappingRightAfterTheFilesLastMapping) {
    const struct {
        const char* what;
        std::vector<MapsLine> lines;
        std::uint64_t size;
    } cases[] = {
        {"globals after the last mapping",
         {Line(0x1000, 0x3000, kGame), Line(0x3000, 0x4000, kGame), Line(0x4000, 0x9000, ""),
          Line(0x9000, 0xa000, "")},
         0x8000},
        {"no globals", {Line(0x1000, 0x3000, kGame), Line(0x8000, 0x9000, "/lib/libc.so.6")}, 0x2000},
        {"a gap before the anonymous mapping", {Line(0x1000, 0x3000, kGame), Line(0x4000, 0x9000, "")}, 0x2000},
        {"the heap is not the module's", {Line(0x1000, 0x3000, kGame), Line(0x3000, 0x9000, "[heap]")}, 0x2000},
        {"another file's mapping in between",
         {Line(0x1000, 0x3000, kGame), Line(0x3000, 0x4000, "/lib/libc.so.6"), Line(0x4000, 0x9000, "")},
         0x2000},
        {"anonymous memory between the file's mappings, then its globals",
         {Line(0x1000, 0x2000, kGame), Line(0x2000, 0x3000, ""), Line(0x3000, 0x4000, kGame),
          Line(0x4000, 0x6000, "")},
         0x5000},
    };
    for (const auto& c : cases) EXPECT_EQ(SizeOf(c.lines), c.size) << c.what;
}

}  // namespace
