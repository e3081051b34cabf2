// The target operations written once over the OS backend's primitives
// (target_backend.h): open and close, reading, scanning and finding a module
// by name.
#include "target/target_process.h"

#include <cstring>
#include <new>

#include "target/memory_scan.h"
#include "target/target_backend.h"

namespace {

bool HasBaseName(const char* baseName, const void* wanted) {
    return std::strcmp(baseName, static_cast<const char*>(wanted)) == 0;
}

}  // namespace

std::unique_ptr<TargetProcess> OpenTarget(std::uint32_t pid) {
    std::uintptr_t handle;
    if (!detail::OpenProcessHandle(pid, handle)) return nullptr;
    std::unique_ptr<detail::AddressSpace> memory = detail::NewProcessMemory(handle, pid);
    std::unique_ptr<TargetProcess> target(memory ? new (std::nothrow) TargetProcess(handle, pid, std::move(memory))
                                                 : nullptr);
    if (target == nullptr) detail::CloseProcessHandle(handle);
    return target;
}

TargetProcess::TargetProcess(std::uintptr_t handle, std::uint32_t pid, std::unique_ptr<detail::AddressSpace> memory)
    : handle_(handle), pid_(pid), memory_(std::move(memory)) {}

TargetProcess::~TargetProcess() {
    detail::CloseProcessHandle(handle_);
}

bool WaitForExit(TargetProcess& target, std::uint32_t timeoutMs) {
    return WaitForTarget(target, timeoutMs) == TargetWait::Ended;
}

bool ReadTargetMemory(TargetProcess& target, std::uint64_t address, void* buffer, std::uint64_t size) {
    return detail::ReadExact(target.Memory(), address, buffer, size);
}

bool FindPattern(TargetProcess& target, const BytePattern& pattern, std::uint64_t start, std::uint64_t end,
                 bool executableOnly, std::uint64_t& match) {
    // The matcher and the backend's description of the memory are allocated
    // per search; a search that cannot have them finds nothing.
    try {
        return detail::ScanForPattern(target.Memory(), pattern, start, end, executableOnly, match);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool FindModule(TargetProcess& target, const char* name, std::uint64_t& base, std::uint64_t& size) {
    if (name == nullptr) return false;
    detail::ModuleSpan span;
    if (!detail::ChooseModule(target, HasBaseName, name, span)) return false;
    base = span.base;
    size = span.size;
    return true;
}
