#include <windows.h>

#include <cstring>

#include "support/target_child_memory.h"

namespace {

DWORD ToProtect(PageProtection protection) {
    switch (protection) {
        case PageProtection::Read: return PAGE_READONLY;
        case PageProtection::ReadWrite: return PAGE_READWRITE;
        case PageProtection::ReadExecute: return PAGE_EXECUTE_READ;
        case PageProtection::ReadWriteExecute: return PAGE_EXECUTE_READWRITE;
        case PageProtection::NoAccess: return PAGE_NOACCESS;
        case PageProtection::Guard: return PAGE_READWRITE | PAGE_GUARD;
        case PageProtection::GuardExecute: return PAGE_EXECUTE_READ | PAGE_GUARD;
        case PageProtection::Secret: break;
    }
    return PAGE_NOACCESS;
}

bool FactsOf(HMODULE module, const void* inside, ModuleFacts& facts) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (module == nullptr || inside == nullptr || length == 0 || length >= sizeof path) return false;
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '\\' || *c == '/') name = c + 1;
    }
    facts.base = reinterpret_cast<std::uintptr_t>(module);
    facts.inside = reinterpret_cast<std::uintptr_t>(inside);
    facts.name = name;
    return true;
}

}  // namespace

std::size_t PageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

// Every VirtualAlloc is an allocation of its own, which the system never
// reports as one region with its neighbours.
void* AllocatePages(std::size_t size) {
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool ProtectPages(void* address, std::size_t size, PageProtection protection) {
    if (protection == PageProtection::Secret) return false;
    DWORD previous;
    return VirtualProtect(address, size, ToProtect(protection), &previous) != 0;
}

void FreePages(void* address, std::size_t) {
    VirtualFree(address, 0, MEM_RELEASE);
}

bool ExecutableModule(ModuleFacts& facts) {
    return FactsOf(GetModuleHandleW(nullptr), reinterpret_cast<const void*>(&ExecutableModule), facts);
}

// ntdll's own functions live in ntdll (kernel32 forwards some of its exports).
bool LibraryModule(ModuleFacts& facts) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return false;
    return FactsOf(ntdll, reinterpret_cast<const void*>(GetProcAddress(ntdll, "NtClose")), facts);
}
