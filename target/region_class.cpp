// The rules of region_class.h: which regions reads and scans may touch.
#include "target/region_class.h"

#include <cstring>

namespace detail {
namespace {

// The kernel's data pages for its virtual system calls: listed as "r--p",
// but mapped as raw page frames (smaps flags "pf io"), so every read of them
// fails.
constexpr const char* kNeverReadable[] = {"[vvar]", "[vvar_vclock]"};

bool IsNeverReadable(const char* path) {
    for (const char* name : kNeverReadable) {
        if (std::strcmp(path, name) == 0) return true;
    }
    return false;
}

}  // namespace

void ClassifyWindowsRegion(std::uint32_t state, std::uint32_t protect, MemoryRegion& region) {
    using namespace win_memory;
    region.readable = state == kMemCommit && (protect & (kPageNoAccess | kPageGuard)) == 0;
    region.executable =
        protect == kPageExecute || protect == kPageExecuteRead || protect == kPageExecuteReadWrite;
    const std::uint32_t writeBits = kPageReadWrite | kPageWriteCopy | kPageExecuteReadWrite | kPageExecuteWriteCopy;
    region.writable = region.readable && (protect & writeBits) != 0;
}

void ClassifyMapsRegion(const MapsLine& line, MemoryRegion& region) {
    const char* permissions = line.permissions;
    region.readable = permissions[0] == 'r' && !IsNeverReadable(line.path);
    region.executable = region.readable && permissions[1] != '\0' && permissions[2] == 'x';
    region.writable = region.readable && permissions[1] == 'w';
}

}  // namespace detail
