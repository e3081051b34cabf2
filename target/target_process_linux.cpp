// Target process access on Linux: a pidfd to wait on, /proc/<pid>/maps for
// regions and modules, process_vm_readv for reads.
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "target/memory_scan.h"
#include "target/region_class.h"
#include "target/target_listing.h"
#include "target/target_process.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

namespace {

// The top of user space on x86-64 with 4-level page tables: nothing above it
// belongs to the process.
constexpr std::uint64_t kUserSpaceEnd = 0x7ffffffff000;
constexpr std::uint64_t kDefaultLowestAddress = 0x10000;

struct MapsLine {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    const char* permissions = "";
    const char* path = "";  // empty for anonymous memory
};

// "start-end perms offset dev inode   path"; the path may hold spaces.
bool ParseMapsLine(char* line, MapsLine& parsed) {
    char* rest;
    parsed.start = std::strtoull(line, &rest, 16);
    if (*rest != '-') return false;
    parsed.end = std::strtoull(rest + 1, &rest, 16);
    if (*rest != ' ' || parsed.end <= parsed.start) return false;
    parsed.permissions = ++rest;
    for (int field = 0; field < 4; ++field) {  // permissions, offset, device, inode
        rest = std::strchr(rest, ' ');
        if (rest == nullptr) return false;
        *rest++ = '\0';
    }
    while (*rest == ' ') ++rest;
    parsed.path = rest;
    return true;
}

// Calls `visit` for each mapping of the process in ascending address order
// until it returns false. False when the maps file cannot be read.
template <typename Visit>
bool ForEachMapping(std::uint32_t pid, Visit visit) {
    char name[32];
    std::snprintf(name, sizeof name, "/proc/%u/maps", pid);
    FILE* file = std::fopen(name, "re");
    if (file == nullptr) return false;
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t length;
    bool stopped = false;
    while (!stopped && (length = getline(&line, &capacity, file)) > 0) {
        if (line[length - 1] == '\n') line[length - 1] = '\0';
        MapsLine parsed;
        if (ParseMapsLine(line, parsed)) stopped = !visit(parsed);
    }
    const bool ok = stopped || !std::ferror(file);
    std::free(line);
    std::fclose(file);
    return ok;
}

MemoryRegion RegionOf(const MapsLine& line) {
    MemoryRegion region;
    region.base = line.start;
    region.size = line.end - line.start;
    ClassifyMapsRegion(line.permissions, region);
    return region;
}

// The region at `address` given the end of the mapping before it and the
// first mapping that ends above it (if any): that mapping when it holds the
// address, otherwise the unreadable gap up to the next mapping.
bool RegionAt(std::uint64_t address, std::uint64_t previousEnd, const MemoryRegion* next,
              MemoryRegion& region) {
    if (next != nullptr && next->base <= address) {
        region = *next;
        return true;
    }
    const std::uint64_t gapEnd = next != nullptr ? next->base : kUserSpaceEnd;
    if (address >= gapEnd) return false;
    region = MemoryRegion{};
    region.base = previousEnd;
    region.size = gapEnd - previousEnd;
    return true;
}

std::uint64_t LowestAddress() {
    static const std::uint64_t lowest = [] {
        std::uint64_t value = kDefaultLowestAddress;
        if (FILE* file = std::fopen("/proc/sys/vm/mmap_min_addr", "re")) {
            unsigned long long read;
            if (std::fscanf(file, "%llu", &read) == 1) value = read;
            std::fclose(file);
        }
        return value;
    }();
    return lowest;
}

class ProcessAddressSpace final : public AddressSpace {
public:
    explicit ProcessAddressSpace(std::uint32_t pid) : pid_(pid) {}

    // From now on queries look at one copy of the map instead of reading the
    // maps file again for every region; a game has thousands of mappings.
    // A partial copy means the map changed, so the next query takes a new copy.
    void UseSnapshots() { useSnapshots_ = true; }

    bool QueryRegion(std::uint64_t address, MemoryRegion& region) override {
        return useSnapshots_ ? QuerySnapshot(address, region) : QueryMapsFile(address, region);
    }

    ReadResult Read(std::uint64_t address, void* buffer, std::uint64_t size) override {
        iovec local{buffer, static_cast<std::size_t>(size)};
        iovec remote{reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)),
                     static_cast<std::size_t>(size)};
        const ssize_t copied = process_vm_readv(static_cast<pid_t>(pid_), &local, 1, &remote, 1, 0);
        ReadResult result;
        if (copied < 0) {
            result.status = errno == EFAULT ? ReadStatus::PartialCopy : ReadStatus::Failed;
        } else if (static_cast<std::uint64_t>(copied) < size) {
            result.status = ReadStatus::PartialCopy;
        } else {
            result.status = ReadStatus::Copied;
            result.bytesRead = static_cast<std::uint64_t>(copied);
        }
        if (result.status == ReadStatus::PartialCopy) snapshotValid_ = false;
        return result;
    }

    AddressRange ApplicationRange() override { return AddressRange{LowestAddress(), kUserSpaceEnd}; }

private:
    bool QueryMapsFile(std::uint64_t address, MemoryRegion& region) {
        std::uint64_t previousEnd = 0;
        MemoryRegion next;
        bool found = false;
        const bool ok = ForEachMapping(pid_, [&](const MapsLine& line) {
            if (line.end <= address) {
                previousEnd = line.end;
                return true;
            }
            next = RegionOf(line);
            found = true;
            return false;
        });
        return ok && RegionAt(address, previousEnd, found ? &next : nullptr, region);
    }

    bool QuerySnapshot(std::uint64_t address, MemoryRegion& region) {
        if (!snapshotValid_) {
            snapshot_.clear();
            if (!ForEachMapping(pid_, [&](const MapsLine& line) {
                    snapshot_.push_back(RegionOf(line));
                    return true;
                })) {
                return false;
            }
            snapshotValid_ = true;
        }
        const auto next =
            std::upper_bound(snapshot_.begin(), snapshot_.end(), address,
                             [](std::uint64_t a, const MemoryRegion& r) { return a < r.base + r.size; });
        const std::uint64_t previousEnd =
            next == snapshot_.begin() ? 0 : std::prev(next)->base + std::prev(next)->size;
        return RegionAt(address, previousEnd, next == snapshot_.end() ? nullptr : &*next, region);
    }

    std::uint32_t pid_;
    bool useSnapshots_ = false;
    bool snapshotValid_ = false;
    std::vector<MemoryRegion> snapshot_;
};

// The same permission test process_vm_readv makes: opening the memory file
// needs the right to attach to the process.
bool MemoryIsReadable(std::uint32_t pid) {
    char name[32];
    std::snprintf(name, sizeof name, "/proc/%u/mem", pid);
    const int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
}

const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

}  // namespace

TargetProcess::~TargetProcess() {
    if (handle != kNoHandle) close(static_cast<int>(handle));
}

std::unique_ptr<TargetProcess> OpenTarget(std::uint32_t pid) {
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return nullptr;
    const long fd = syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
    if (fd < 0) return nullptr;
    if (!MemoryIsReadable(pid)) {
        close(static_cast<int>(fd));
        return nullptr;
    }
    auto target = std::make_unique<TargetProcess>();
    target->handle = static_cast<std::uintptr_t>(fd);
    target->pid = pid;
    return target;
}

TargetWait WaitForTarget(TargetProcess& target, std::uint32_t timeoutMs) {
    const bool forever = timeoutMs == 0xFFFFFFFF;  // the INFINITE of the Windows build
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + timeoutMs;
    pollfd wait{static_cast<int>(target.handle), POLLIN, 0};
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = std::max(0LL, deadline - (now.tv_sec * 1000LL + now.tv_nsec / 1000000));
        const int ready = poll(&wait, 1, forever ? -1 : static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (ready > 0) return (wait.revents & (POLLIN | POLLHUP)) != 0 ? TargetWait::Ended : TargetWait::Failed;
        if (ready < 0 && errno != EINTR) return TargetWait::Failed;
        if (ready == 0 && left <= INT_MAX) return TargetWait::TimedOut;
    }
}

bool ReadTargetMemory(TargetProcess& target, std::uint64_t address, void* buffer, std::uint64_t size) {
    ProcessAddressSpace space(target.pid);
    return ReadExact(space, address, buffer, size);
}

bool FindPattern(TargetProcess& target, const BytePattern& pattern, std::uint64_t start, std::uint64_t end,
                 bool executableOnly, std::uint64_t& match) {
    ProcessAddressSpace space(target.pid);
    space.UseSnapshots();
    return ScanForPattern(space, pattern, start, end, executableOnly, match);
}

bool FindModule(TargetProcess& target, const char* name, std::uint64_t& base, std::uint64_t& size) {
    if (name == nullptr) return false;
    std::string path;  // of the first file-backed mapping whose base name is `name`
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    const bool ok = ForEachMapping(target.pid, [&](const MapsLine& line) {
        if (line.path[0] != '/') return true;
        if (path.empty()) {
            if (std::strcmp(BaseName(line.path), name) == 0) {
                path = line.path;
                low = line.start;
                high = line.end;
            }
        } else if (path == line.path) {
            high = std::max(high, line.end);
        }
        return true;
    });
    if (!ok || path.empty()) return false;
    base = low;
    size = high - low;
    return true;
}

// Grouped as FindModule groups them: one module per file path, in the order
// of its first mapping, from there up to the end of its highest mapping.
bool ListModules(TargetProcess& target, const std::function<void(const ModuleEntry&)>& visit) {
    std::vector<std::string> paths;
    std::vector<ModuleEntry> modules;
    const bool ok = ForEachMapping(target.pid, [&](const MapsLine& line) {
        if (line.path[0] != '/') return true;
        const auto known = std::find(paths.begin(), paths.end(), line.path);
        if (known == paths.end()) {
            paths.emplace_back(line.path);
            modules.push_back(ModuleEntry{BaseName(line.path), line.start, line.end - line.start});
        } else {
            ModuleEntry& module = modules[static_cast<std::size_t>(known - paths.begin())];
            module.size = std::max(module.size, line.end - module.base);
        }
        return true;
    });
    if (!ok) return false;
    for (const ModuleEntry& module : modules) visit(module);
    return true;
}
