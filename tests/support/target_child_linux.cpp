#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "support/target_child_memory.h"

namespace {

constexpr long kMemfdSecret = 447;  // the system call's number on x86-64 and arm64

int ToProt(PageProtection protection) {
    switch (protection) {
        case PageProtection::Read: return PROT_READ;
        case PageProtection::ReadWrite: return PROT_READ | PROT_WRITE;
        case PageProtection::ReadExecute: return PROT_READ | PROT_EXEC;
        case PageProtection::ReadWriteExecute: return PROT_READ | PROT_WRITE | PROT_EXEC;
        case PageProtection::NoAccess:
        case PageProtection::Guard:
        case PageProtection::GuardExecute:
        case PageProtection::Secret: break;
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

// Secret pages replace the block's pages with a mapping of a secret memory
// file of their size.
bool ProtectPages(void* address, std::size_t size, PageProtection protection) {
    if (protection != PageProtection::Secret) return mprotect(address, size, ToProt(protection)) == 0;
    const long fd = syscall(kMemfdSecret, 0);
    if (fd < 0) return false;
    const bool mapped = ftruncate(static_cast<int>(fd), static_cast<off_t>(size)) == 0 &&
                        mmap(address, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, static_cast<int>(fd), 0) !=
                            MAP_FAILED;
    close(static_cast<int>(fd));
    return mapped;
}

// With the no-access page on either side that AllocatePages added.
void FreePages(void* address, std::size_t size) {
    const std::size_t page = PageSize();
    munmap(static_cast<char*>(address) - page, size + 2 * page);
}

bool ExecutableModule(ModuleFacts& facts) {
    return FactsOf(reinterpret_cast<const void*>(&ExecutableModule), "/proc/self/exe", facts);
}

bool LibraryModule(ModuleFacts& facts) {
    ModuleFacts executable;
    return FactsOf(reinterpret_cast<const void*>(&getpid), nullptr, facts) && ExecutableModule(executable) &&
           facts.base != executable.base;
}
