#pragma once
// What target_child needs from the OS: pages it can lay out and the facts of
// two modules it has loaded. One backend file per OS.

#include <cstddef>
#include <cstdint>
#include <string>

enum class PageProtection {
    Read,
    ReadWrite,
    ReadExecute,
    ReadWriteExecute,
    NoAccess,
    Guard,         // read-write with the guard bit on Windows; no access elsewhere
    GuardExecute,  // execute-read with the guard bit on Windows; no access elsewhere
    Secret,        // Linux: secret memory, listed as read-write but readable by no other process
};

std::size_t PageSize();

// Read-write pages of their own: they never join a neighbouring allocation
// into one region. Null on failure.
void* AllocatePages(std::size_t size);

// False when the protection cannot be had (Secret where the OS has none).
bool ProtectPages(void* address, std::size_t size, PageProtection protection);

void FreePages(void* address, std::size_t size);

struct ModuleFacts {
    std::uintptr_t base = 0;
    std::uintptr_t inside = 0;  // an address of code within the module
    std::string name;           // the base name the system lists it under
};

// The program itself and a system library it has loaded.
bool ExecutableModule(ModuleFacts& facts);
bool LibraryModule(ModuleFacts& facts);
