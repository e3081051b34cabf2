#pragma once
// What each OS backend (target_process_linux.cpp, target_process_win.cpp)
// provides to the portable target code above it: the process handle, the
// target's memory as an AddressSpace, the module list and a hint for the
// scan's buffer. The backends also implement WaitForTarget. Nothing here
// throws.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "target/address_space.h"
#include "target/target_process.h"

namespace detail {

// Opens the process for reading and waiting. False when it is gone or may
// not be read.
bool OpenProcessHandle(std::uint32_t pid, std::uintptr_t& handle);
void CloseProcessHandle(std::uintptr_t handle);

// The memory of the process opened as `handle`, or null when it cannot be
// allocated.
std::unique_ptr<AddressSpace> NewProcessMemory(std::uintptr_t handle, std::uint32_t pid);

// Where a module lies: [base, base + size).
struct ModuleSpan {
    std::uint64_t base = 0;
    std::uint64_t size = 0;
};

// Asked about each module's base name (its file name without directory), in
// the order the OS lists them; true for the one wanted.
using ModuleChooser = bool (*)(const char* baseName, const void* context);

// True with the span of the first module that `chooses` accepts. False when
// none is accepted or the list cannot be read.
bool ChooseModule(TargetProcess& target, ModuleChooser chooses, const void* context, ModuleSpan& span);

// Called once, before the scan's ring buffer (memory_scan.h) is first
// touched, with its start, aligned to kScanRingAlignment, and its size: a
// backend may ask the OS to back it with large pages, so that its first use
// costs two page faults instead of a thousand.
void PrepareScanRing(void* ring, std::size_t size);

}  // namespace detail
