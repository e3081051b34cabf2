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
#include <new>
#include <vector>

#include "target/maps_line.h"
#include "target/region_class.h"
#include "target/target_backend.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

namespace {

using detail::MapsLine;
using detail::MemoryRegion;

// The top of user space on x86-64 with 4-level page tables: nothing above it
// belongs to the process.
constexpr std::uint64_t kUserSpaceEnd = 0x7ffffffff000;
constexpr std::uint64_t kDefaultLowestAddress = 0x10000;

// Calls `visit` for each mapping of the process in ascending address order
// until it returns false. False when the maps file cannot be read. Allocates
// only through the C library, so it never throws.
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
        if (detail::ParseMapsLine(line, parsed)) stopped = !visit(parsed);
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
    detail::ClassifyMapsRegion(line, region);
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

class ProcessAddressSpace final : public detail::AddressSpace {
public:
    explicit ProcessAddressSpace(std::uint32_t pid) : pid_(pid) {}

    // During a search, queries look at one copy of the map instead of
    // reading the maps file again for every region; a game has thousands of
    // mappings. A partial copy means the map changed, so the next query takes
    // a new copy.
    void BeginSearch() override {
        searching_ = true;
        snapshotValid_ = false;
    }

    void EndSearch() override { searching_ = false; }

    bool QueryRegion(std::uint64_t address, MemoryRegion& region) override {
        return searching_ ? QuerySnapshot(address, region) : QueryMapsFile(address, region);
    }

    detail::ReadResult Read(std::uint64_t address, void* buffer, std::uint64_t size) override {
        iovec local{buffer, static_cast<std::size_t>(size)};
        iovec remote{reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)),
                     static_cast<std::size_t>(size)};
        const ssize_t copied = process_vm_readv(static_cast<pid_t>(pid_), &local, 1, &remote, 1, 0);
        detail::ReadResult result;
        if (copied < 0) {
            result.status = errno == EFAULT ? detail::ReadStatus::PartialCopy : detail::ReadStatus::Failed;
        } else if (static_cast<std::uint64_t>(copied) < size) {
            result.status = detail::ReadStatus::PartialCopy;
        } else {
            result.status = detail::ReadStatus::Copied;
            result.bytesRead = static_cast<std::uint64_t>(copied);
        }
        if (result.status == detail::ReadStatus::PartialCopy) snapshotValid_ = false;
        return result;
    }

    detail::AddressRange ApplicationRange() override {
        return detail::AddressRange{LowestAddress(), kUserSpaceEnd};
    }

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

    // Reuses the storage of the last search's copy. An allocation failure
    // leaves the search with std::bad_alloc, which FindPattern turns into
    // "not found".
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
    bool searching_ = false;
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

// Room for the longest path the kernel prints in a maps line (PATH_MAX) and
// a " (deleted)" after it.
constexpr std::size_t kMappedPathCapacity = PATH_MAX + 16;

}  // namespace

bool detail::OpenProcessHandle(std::uint32_t pid, std::uintptr_t& handle) {
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return false;
    const long fd = syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
    if (fd < 0) return false;
    if (!MemoryIsReadable(pid)) {
        close(static_cast<int>(fd));
        return false;
    }
    handle = static_cast<std::uintptr_t>(fd);
    return true;
}

void detail::CloseProcessHandle(std::uintptr_t handle) {
    close(static_cast<int>(handle));
}

std::unique_ptr<detail::AddressSpace> detail::NewProcessMemory(std::uintptr_t, std::uint32_t pid) {
    return std::unique_ptr<AddressSpace>(new (std::nothrow) ProcessAddressSpace(pid));
}

TargetWait WaitForTarget(TargetProcess& target, std::uint32_t timeoutMs) {
    const bool forever = timeoutMs == 0xFFFFFFFF;  // the INFINITE of the Windows build
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + timeoutMs;
    pollfd wait{static_cast<int>(target.Handle()), POLLIN, 0};
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = std::max(0LL, deadline - (now.tv_sec * 1000LL + now.tv_nsec / 1000000));
        const int ready = poll(&wait, 1, forever ? -1 : static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (ready > 0) return (wait.revents & (POLLIN | POLLHUP)) != 0 ? TargetWait::Ended : TargetWait::Failed;
        if (ready < 0 && errno != EINTR) return TargetWait::Failed;
        if (ready == 0 && left <= INT_MAX) return TargetWait::TimedOut;
    }
}

// A module is a file mapped into the process: its base is the start of the
// file's first mapping, its size reaches to the end of the file's last one.
// The path is kept in a fixed buffer, so the lookup allocates nothing that
// could throw; a path longer than any the kernel prints is never chosen.
bool detail::ChooseModule(TargetProcess& target, ModuleChooser chooses, const void* context, ModuleSpan& span) {
    char path[kMappedPathCapacity];  // of the chosen module's first mapping
    bool chosen = false;
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    const bool ok = ForEachMapping(target.Pid(), [&](const MapsLine& line) {
        if (line.path[0] != '/') return true;
        if (!chosen) {
            if (std::strlen(line.path) >= sizeof path || !chooses(BaseName(line.path), context)) return true;
            std::strcpy(path, line.path);
            chosen = true;
            low = line.start;
            high = line.end;
        } else if (std::strcmp(path, line.path) == 0) {
            high = std::max(high, line.end);
        }
        return true;
    });
    if (!ok || !chosen) return false;
    span.base = low;
    span.size = high - low;
    return true;
}
