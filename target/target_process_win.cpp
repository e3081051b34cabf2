// Target process access on Windows: kernel32 for the process and its memory,
// psapi for its modules.
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "target/region_class.h"
#include "target/target_backend.h"
#include "target/target_listing.h"

namespace {

constexpr DWORD kOpenAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x100410
constexpr DWORD kModuleTableEntries = 1024;
constexpr DWORD kModuleNameSize = 260;

HANDLE ProcessHandle(std::uintptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Addresses and sizes arrive as 64-bit numbers; the 32-bit build cannot
// express all of them, and must not cut them.
bool FitsPointer(std::uint64_t value) {
    return value <= UINTPTR_MAX;
}

const void* RemoteAddress(std::uint64_t address) {
    return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
}

class ProcessAddressSpace final : public detail::AddressSpace {
public:
    explicit ProcessAddressSpace(HANDLE process) : process_(process) {}

    bool QueryRegion(std::uint64_t address, detail::MemoryRegion& region) override {
        if (!FitsPointer(address)) return false;
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQueryEx(process_, RemoteAddress(address), &info, sizeof info) == 0) return false;
        region.base = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
        region.size = info.RegionSize;
        detail::ClassifyWindowsRegion(info.State, info.Protect, region);
        return true;
    }

    detail::ReadResult Read(std::uint64_t address, void* buffer, std::uint64_t size) override {
        detail::ReadResult result;
        if (!FitsPointer(address) || !FitsPointer(size)) return result;
        SIZE_T copied = 0;
        if (ReadProcessMemory(process_, RemoteAddress(address), buffer, static_cast<SIZE_T>(size), &copied)) {
            result.status = detail::ReadStatus::Copied;
            result.bytesRead = copied;
        } else if (GetLastError() == ERROR_PARTIAL_COPY) {
            result.status = detail::ReadStatus::PartialCopy;
        }
        return result;
    }

    // The system reports the highest application address itself; the range
    // ends one byte above it.
    detail::AddressRange ApplicationRange() override {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return detail::AddressRange{
            reinterpret_cast<std::uintptr_t>(info.lpMinimumApplicationAddress),
            static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress)) +
                1};
    }

private:
    HANDLE process_;
};

// Walks the modules the system lists, calling `visit` with each one's handle
// and base name until it returns false. A module whose name cannot be had
// ends the walk: false, as when the modules cannot be listed at all.
template <typename Visit>
bool ForEachNamedModule(HANDLE process, Visit visit) {
    HMODULE modules[kModuleTableEntries];
    DWORD bytes = 0;
    if (!EnumProcessModulesEx(process, modules, sizeof modules, &bytes, LIST_MODULES_ALL)) return false;
    const DWORD count = std::min<DWORD>(bytes, sizeof modules) / sizeof(HMODULE);
    for (DWORD i = 0; i < count; ++i) {
        char moduleName[kModuleNameSize];
        std::memset(moduleName, 0, sizeof moduleName);
        if (GetModuleBaseNameA(process, modules[i], moduleName, sizeof moduleName) == 0) return false;
        if (!visit(modules[i], moduleName)) return true;
    }
    return true;
}

// The base address and image size of one module.
bool ModuleFacts(HANDLE process, HMODULE module, std::uint64_t& base, std::uint64_t& size) {
    MODULEINFO info;
    if (!GetModuleInformation(process, module, &info, sizeof info)) return false;
    base = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
    size = info.SizeOfImage;
    return true;
}

}  // namespace

bool detail::OpenProcessHandle(std::uint32_t pid, std::uintptr_t& handle) {
    HANDLE process = OpenProcess(kOpenAccess, FALSE, pid);
    if (process == nullptr) return false;
    handle = reinterpret_cast<std::uintptr_t>(process);
    return true;
}

void detail::CloseProcessHandle(std::uintptr_t handle) {
    CloseHandle(ProcessHandle(handle));
}

std::unique_ptr<detail::AddressSpace> detail::NewProcessMemory(std::uintptr_t handle, std::uint32_t) {
    return std::unique_ptr<AddressSpace>(new (std::nothrow) ProcessAddressSpace(ProcessHandle(handle)));
}

// Large pages on Windows need the right to lock pages in memory, which a
// companion started by the chat application does not hold: the ring keeps
// the system's small pages.
void detail::PrepareScanRing(void*, std::size_t) {}

TargetWait WaitForTarget(TargetProcess& target, std::uint32_t timeoutMs) {
    switch (WaitForSingleObject(ProcessHandle(target.Handle()), timeoutMs)) {
        case WAIT_OBJECT_0: return TargetWait::Ended;
        case WAIT_TIMEOUT: return TargetWait::TimedOut;
        default: return TargetWait::Failed;
    }
}

// Only the first 1024 modules the system lists are examined; the table is
// fixed in size.
bool detail::ChooseModule(TargetProcess& target, ModuleChooser chooses, const void* context, ModuleSpan& span) {
    const HANDLE process = ProcessHandle(target.Handle());
    bool found = false;
    ForEachNamedModule(process, [&](HMODULE module, const char* moduleName) {
        if (!chooses(moduleName, context)) return true;
        found = ModuleFacts(process, module, span.base, span.size);
        return false;  // the first module chosen decides
    });
    return found;
}

// The same walk as ChooseModule's, so the listing names exactly the modules
// that FindModule can return, in its order; one whose facts cannot be had is
// left out, as FindModule cannot return it either.
bool ListModules(TargetProcess& target, const std::function<void(const ModuleEntry&)>& visit) {
    const HANDLE process = ProcessHandle(target.Handle());
    return ForEachNamedModule(process, [&](HMODULE module, const char* moduleName) {
        ModuleEntry entry{moduleName, 0, 0};
        if (ModuleFacts(process, module, entry.base, entry.size)) visit(entry);
        return true;
    });
}
