#include "region_class.h"

namespace {

constexpr std::uint32_t kMemCommit = 0x1000;
constexpr std::uint32_t kPageNoAccess = 0x01;
constexpr std::uint32_t kPageExecute = 0x10;
constexpr std::uint32_t kPageExecuteRead = 0x20;
constexpr std::uint32_t kPageExecuteReadWrite = 0x40;
constexpr std::uint32_t kPageGuard = 0x100;

}  // namespace

void ClassifyWindowsRegion(std::uint32_t state, std::uint32_t protect, MemoryRegion& region) {
    region.readable = state == kMemCommit && (protect & (kPageNoAccess | kPageGuard)) == 0;
    region.executable = protect == kPageExecute || protect == kPageExecuteRead ||
                        protect == kPageExecuteReadWrite;
}

void ClassifyMapsRegion(const char* permissions, MemoryRegion& region) {
    region.readable = permissions[0] == 'r';
    region.executable = region.readable && permissions[1] != '\0' && permissions[2] == 'x';
}
