// Target process access on Windows: kernel32 for the process and its memory,
// psapi for its modules.
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "target/memory_scan.h"
#include "target/region_class.h"
#include "target/target_listing.h"
#include "target/target_process.h"

namespace {

constexpr DWORD kOpenAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x100410
constexpr DWORD kModuleTableEntries = 1024;
constexpr DWORD kModuleNameSize = 260;

HANDLE ProcessHandle(const TargetProcess& target) {
    return reinterpret_cast<HANDLE>(target.handle);
}

// Addresses and sizes arrive as 64-bit numbers; the 32-bit build cannot
// express all of them, and must not cut them.
bool FitsPointer(std::uint64_t value) {
    return value <= UINTPTR_MAX;
}

const void* RemoteAddress(std::uint64_t address) {
    return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
}

class ProcessAddressSpace final : public AddressSpace {
public:
    explicit ProcessAddressSpace(HANDLE process) : process_(process) {}

    bool QueryRegion(std::uint64_t address, MemoryRegion& region) override {
        if (!FitsPointer(address)) return false;
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQueryEx(process_, RemoteAddress(address), &info, sizeof info) == 0) return false;
        region.base = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
        region.size = info.RegionSize;
        ClassifyWindowsRegion(info.State, info.Protect, region);
        return true;
    }

    ReadResult Read(std::uint64_t address, void* buffer, std::uint64_t size) override {
        ReadResult result;
        if (!FitsPointer(address) || !FitsPointer(size)) return result;
        SIZE_T copied = 0;
        if (ReadProcessMemory(process_, RemoteAddress(address), buffer, static_cast<SIZE_T>(size), &copied)) {
            result.status = ReadStatus::Copied;
            result.bytesRead = copied;
        } else if (GetLastError() == ERROR_PARTIAL_COPY) {
            result.status = ReadStatus::PartialCopy;
        }
        return result;
    }

    // The system reports the highest application address itself; the range
    // ends one byte above it.
    AddressRange ApplicationRange() override {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return AddressRange{
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

TargetProcess::~TargetProcess() {
    if (handle != kNoHandle) CloseHandle(ProcessHandle(*this));
}

std::unique_ptr<TargetProcess> OpenTarget(std::uint32_t pid) {
    HANDLE process = OpenProcess(kOpenAccess, FALSE, pid);
    if (process == nullptr) return nullptr;
    auto target = std::make_unique<TargetProcess>();
    target->handle = reinterpret_cast<std::uintptr_t>(process);
    target->pid = pid;
    return target;
}

TargetWait WaitForTarget(TargetProcess& target, std::uint32_t timeoutMs) {
    switch (WaitForSingleObject(ProcessHandle(target), timeoutMs)) {
        case WAIT_OBJECT_0: return TargetWait::Ended;
        case WAIT_TIMEOUT: return TargetWait::TimedOut;
        default: return TargetWait::Failed;
    }
}

bool ReadTargetMemory(TargetProcess& target, std::uint64_t address, void* buffer, std::uint64_t size) {
    ProcessAddressSpace space(ProcessHandle(target));
    return ReadExact(space, address, buffer, size);
}

bool FindPattern(TargetProcess& target, const BytePattern& pattern, std::uint64_t start, std::uint64_t end,
                 bool executableOnly, std::uint64_t& match) {
    ProcessAddressSpace space(ProcessHandle(target));
    return ScanForPattern(space, pattern, start, end, executableOnly, match);
}

// Only the first 1024 modules the system lists are examined; the table is
// fixed in size.
bool FindModule(TargetProcess& target, const char* name, std::uint64_t& base, std::uint64_t& size) {
    if (name == nullptr) return false;
    const HANDLE process = ProcessHandle(target);
    bool found = false;
    ForEachNamedModule(process, [&](HMODULE module, const char* moduleName) {
        if (std::strcmp(moduleName, name) != 0) return true;
        found = ModuleFacts(process, module, base, size);
        return false;  // the first module of that name decides
    });
    return found;
}

// The same walk as FindModule's, so the listing names exactly the modules it
// can return, in its order; one whose facts cannot be had is left out, as
// FindModule cannot return it either.
bool ListModules(TargetProcess& target, const std::function<void(const ModuleEntry&)>& visit) {
    const HANDLE process = ProcessHandle(target);
    return ForEachNamedModule(process, [&](HMODULE module, const char* moduleName) {
        ModuleEntry entry{moduleName, 0, 0};
        if (ModuleFacts(process, module, entry.base, entry.size)) visit(entry);
        return true;
    });
}
