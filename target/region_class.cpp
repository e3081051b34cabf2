// The rules of region_class.h: which regions reads and scans may touch.
#include "target/region_class.h"

namespace detail {

void ClassifyWindowsRegion(std::uint32_t state, std::uint32_t protect, MemoryRegion& region) {
    using namespace win_memory;
    region.readable = state == kMemCommit && (protect & (kPageNoAccess | kPageGuard)) == 0;
    region.executable =
        protect == kPageExecute || protect == kPageExecuteRead || protect == kPageExecuteReadWrite;
}

void ClassifyMapsRegion(const MapsLine& line, MemoryRegion& region) {
    const char* permissions = line.permissions;
    region.readable = permissions[0] == 'r';
    region.executable = region.readable && permissions[1] != '\0' && permissions[2] == 'x';
}

}  // namespace detail
