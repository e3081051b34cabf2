#pragma once
// Which regions reads and scans may touch, decided from what each OS reports.
// Kept apart from the backends so the rules are tested natively.

#include <cstdint>

#include "target/address_space.h"
#include "target/maps_line.h"

namespace detail {

// The values of the Windows memory query's State and Protect fields that the
// classification looks at (and that tests lay out regions with).
namespace win_memory {
constexpr std::uint32_t kMemCommit = 0x1000;
constexpr std::uint32_t kMemReserve = 0x2000;
constexpr std::uint32_t kMemFree = 0x10000;
constexpr std::uint32_t kPageNoAccess = 0x01;
constexpr std::uint32_t kPageReadOnly = 0x02;
constexpr std::uint32_t kPageReadWrite = 0x04;
constexpr std::uint32_t kPageWriteCopy = 0x08;
constexpr std::uint32_t kPageExecute = 0x10;
constexpr std::uint32_t kPageExecuteRead = 0x20;
constexpr std::uint32_t kPageExecuteReadWrite = 0x40;
constexpr std::uint32_t kPageExecuteWriteCopy = 0x80;
constexpr std::uint32_t kPageGuard = 0x100;
}  // namespace win_memory

// From the State and Protect fields of a Windows memory query. Readable:
// committed, without the no-access or guard bit. Executable: exactly
// execute, execute-read or execute-read-write; execute-write-copy and any of
// them combined with a modifier bit (such as guard) do not count.
void ClassifyWindowsRegion(std::uint32_t state, std::uint32_t protect, MemoryRegion& region);

// From a line of /proc/<pid>/maps. Readable: has 'r', and is not one of the
// kernel's [vvar] mappings, which the map lists as readable although no read
// of another process ever reaches them. Executable: readable and has 'x'
// (r-x or rwx).
void ClassifyMapsRegion(const MapsLine& line, MemoryRegion& region);

}  // namespace detail
