// Target process access on Linux against mappings that the memory map lists
// as readable but that no read of another process reaches: the kernel's
// [vvar] pages and secret memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "target_process_fixture.h"

namespace {

struct Mapping {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// The child's mapping named `name` in its maps file, read here with the
// plainest code, apart from the backend's parser.
bool FindMapping(std::uint32_t pid, const std::string& name, Mapping& mapping) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.size() < name.size() || line.compare(line.size() - name.size(), name.size(), name) != 0) continue;
        mapping.start = std::stoull(line.substr(0, line.find('-')), nullptr, 16);
        mapping.end = std::stoull(line.substr(line.find('-') + 1), nullptr, 16);
        return true;
    }
    return false;
}

// The child's zero-initialised global really lies past the last mapping of
// its program's file, where only the anonymous mapping after it holds it.
TEST_F(TargetProcessTest, TheProgramsGlobalsLieInTheAnonymousMappingAfterItsFile) {
    Start({});
    std::ifstream maps("/proc/" + std::to_string(child_.process.Pid()) + "/maps");
    std::string line, holder, before;
    while (std::getline(maps, line)) {
        const std::uint64_t start = std::stoull(line.substr(0, line.find('-')), nullptr, 16);
        const std::uint64_t end = std::stoull(line.substr(line.find('-') + 1), nullptr, 16);
        if (start <= child_.zeroInitialisedGlobal && child_.zeroInitialisedGlobal < end) {
            holder = line;
            break;
        }
        before = line;
    }
    const std::string name = "/" + child_.executable.name;
    EXPECT_EQ(holder.find('/'), std::string::npos) << holder;
    EXPECT_EQ(before.compare(before.size() - name.size(), name.size(), name), 0) << before;
}

TEST_F(TargetProcessTest, TheKernelsVvarPagesAreNotReadable) {
    const BytePattern marker = RandomMarker();
    Start({"stack=" + HexText(marker.bytes)});
    Mapping vvar;
    if (!FindMapping(child_.process.Pid(), " [vvar]", vvar)) GTEST_SKIP() << "this kernel maps no [vvar]";

    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(Read(vvar.start, bytes, 8));
    EXPECT_EQ(bytes[0], 0xCC) << "nothing was copied";
    EXPECT_TRUE(Read(child_.stack, bytes, marker.bytes.size())) << "a read beside it still works";

    std::uint64_t match = 0;
    EXPECT_FALSE(Find(BytePattern{}, vvar.start, vvar.end, false, match)) << "no readable byte in [vvar]";
    ASSERT_TRUE(Find(marker, vvar.start, kWholeRange, false, match)) << "a search starting in [vvar] goes on";
    EXPECT_EQ(match, child_.stack);
}

// Secret memory is listed as "rw-s" and fails every read, like device
// memory: the search steps over it as over a no-access region and goes on.
TEST_F(TargetProcessTest, MappingsThatNoReadReachesAreSteppedOver) {
    const BytePattern marker = RandomMarker();
    if (!StartTargetChild({"rw*1,secret*2,rw*1,fill=5c", "stack=" + HexText(marker.bytes)}, child_)) {
        GTEST_SKIP() << "no secret memory here: " << child_.error;
    }
    target_ = OpenTarget(child_.process.Pid());
    ASSERT_NE(target_, nullptr);
    const std::uint64_t secret = Block(0) + kPage;

    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(Read(secret, bytes, 8));
    std::uint64_t match = 0;
    ASSERT_TRUE(Find(BytePattern{}, secret, kWholeRange, false, match));
    EXPECT_EQ(match, secret + 2 * kPage) << "the first readable byte after the secret pages";
    ASSERT_TRUE(Find(marker, 0, kWholeRange, false, match));
    EXPECT_EQ(match, child_.stack);
}

}  // namespace
