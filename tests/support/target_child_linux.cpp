#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "support/target_child_memory.h"

namespace {

int ToProt(PageProtection protection) {
    switch (protection) {
        case PageProtection::Read: return PROT_READ;
        case PageProtection::ReadWrite: return PROT_READ | PROT_WRITE;
        case PageProtection::ReadExecute: return PROT_READ | PROT_EXEC;
        case PageProtection::ReadWriteExecute: return PROT_READ | PROT_WRITE | PROT_EXEC;
        case PageProtection::NoAccess:
        case PageProtection::Guard:
        case PageProtection::GuardExecute: break;
    }
    return PROT_NONE;
}

std::string BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// The module that holds `code`, named as /proc/<pid>/maps names its file.
bool FactsOf(const void* code, const char* path, ModuleFacts& facts) {
    Dl_info info;
    if (dladdr(code, &info) == 0 || info.dli_fbase == nullptr) return false;
    char resolved[PATH_MAX];
    if (realpath(path != nullptr ? path : info.dli_fname, resolved) == nullptr) return false;
    facts.base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    facts.inside = reinterpret_cast<std::uintptr_t>(code);
    facts.name = BaseName(resolved);
    return true;
}

}  // namespace

std::size_t PageSize() {
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// A no-access page on either side keeps the kernel from merging the block's
// first or last run with a neighbouring mapping of the same protection.
void* AllocatePages(std::size_t size) {
    const std::size_t page = PageSize();
    void* area = mmap(nullptr, size + 2 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) return nullptr;
    void* block = static_cast<char*>(area) + page;
    if (mprotect(block, size, PROT_READ | PROT_WRITE) != 0) return nullptr;
    return block;
}

bool ProtectPages(void* address, std::size_t size, PageProtection protection) {
    return mprotect(address, size, ToProt(protection)) == 0;
}

bool ExecutableModule(ModuleFacts& facts) {
    return FactsOf(reinterpret_cast<const void*>(&ExecutableModule), "/proc/self/exe", facts);
}

bool LibraryModule(ModuleFacts& facts) {
    ModuleFacts executable;
    return FactsOf(reinterpret_cast<const void*>(&getpid), nullptr, facts) && ExecutableModule(executable) &&
           facts.base != executable.base;
}
