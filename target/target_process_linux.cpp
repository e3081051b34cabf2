// Target process access on Linux: a pidfd to wait on, /proc/<pid>/maps for
// regions and modules, process_vm_readv for reads.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
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
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "target/maps_line.h"
#include "target/memory_map.h"
#include "target/module_extent.h"
#include "target/region_class.h"
#include "target/target_backend.h"
#include "target/target_listing.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

namespace {

using detail::MapsLine;
using detail::MemoryRegion;
using detail::ModuleExtent;

// The top of user space on x86-64 with 4-level page tables: nothing above it
// belongs to the process.
constexpr std::uint64_t kUserSpaceEnd = 0x7ffffffff000;
constexpr std::uint64_t kDefaultLowestAddress = 0x10000;

// An open file of /proc/<pid>/ and the buffer of its current line, both
// released however the reading ends.
class ProcLines {
public:
    ProcLines(std::uint32_t pid, const char* file) {
        char name[40];
        std::snprintf(name, sizeof name, "/proc/%u/%s", pid, file);
        stream_ = std::fopen(name, "re");
    }
    ProcLines(const ProcLines&) = delete;
    ProcLines& operator=(const ProcLines&) = delete;
    ~ProcLines() {
        std::free(line_);
        if (stream_ != nullptr) std::fclose(stream_);
    }

    bool IsOpen() const { return stream_ != nullptr; }
    bool Failed() const { return std::ferror(stream_) != 0; }

    // The next line without its line end, or null at the end of the file.
    char* Next() {
        const ssize_t length = getline(&line_, &capacity_, stream_);
        if (length <= 0) return nullptr;
        if (line_[length - 1] == '\n') line_[length - 1] = '\0';
        return line_;
    }

private:
    FILE* stream_ = nullptr;
    char* line_ = nullptr;
    std::size_t capacity_ = 0;
};

// Calls `visit` with each line of /proc/<pid>/`file` until it returns false.
// False when the file cannot be read. Allocates only through the C library;
// whatever `visit` throws leaves nothing open.
template <typename Visit>
bool ForEachLine(std::uint32_t pid, const char* file, Visit visit) {
    ProcLines lines(pid, file);
    if (!lines.IsOpen()) return false;
    while (char* line = lines.Next()) {
        if (!visit(line)) return true;
    }
    return !lines.Failed();
}

// Calls `visit` for each mapping of the process in ascending address order
// until it returns false. False when the maps file cannot be read.
template <typename Visit>
bool ForEachMapping(std::uint32_t pid, Visit visit) {
    return ForEachLine(pid, "maps", [&](char* line) {
        MapsLine parsed;
        return !detail::ParseMapsLine(line, parsed) || visit(parsed);
    });
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

detail::ReadResult ReadOnce(std::uint32_t pid, std::uint64_t address, void* buffer, std::uint64_t size) {
    iovec local{buffer, static_cast<std::size_t>(size)};
    iovec remote{reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), static_cast<std::size_t>(size)};
    const ssize_t copied = process_vm_readv(static_cast<pid_t>(pid), &local, 1, &remote, 1, 0);
    detail::ReadResult result;
    if (copied < 0) {
        result.status = errno == EFAULT ? detail::ReadStatus::PartialCopy : detail::ReadStatus::Failed;
    } else if (static_cast<std::uint64_t>(copied) < size) {
        result.status = detail::ReadStatus::PartialCopy;
    } else {
        result.status = detail::ReadStatus::Copied;
        result.bytesRead = static_cast<std::uint64_t>(copied);
    }
    return result;
}

// Ranges one process_vm_readv call of ReadRanges takes at most (the kernel
// takes up to 1024).
constexpr std::size_t kRangesPerCall = 256;

// One process_vm_readv call for all the ranges; the kernel stops at the
// first range it cannot copy, and the count of bytes tells how far it came.
std::size_t ReadRangesOnce(std::uint32_t pid, const detail::ReadRange* ranges, std::size_t count) {
    iovec local[kRangesPerCall] = {};
    iovec remote[kRangesPerCall] = {};
    count = std::min(count, kRangesPerCall);
    for (std::size_t i = 0; i < count; ++i) {
        local[i].iov_base = ranges[i].buffer;
        local[i].iov_len = static_cast<std::size_t>(ranges[i].size);
        remote[i].iov_base = reinterpret_cast<void*>(static_cast<std::uintptr_t>(ranges[i].address));
        remote[i].iov_len = static_cast<std::size_t>(ranges[i].size);
    }
    const ssize_t copied = process_vm_readv(static_cast<pid_t>(pid), local, count, remote, count, 0);
    std::uint64_t left = copied > 0 ? static_cast<std::uint64_t>(copied) : 0;
    std::size_t whole = 0;
    while (whole < count && ranges[whole].size <= left) left -= ranges[whole++].size;
    return whole;
}

bool SameRange(const MemoryRegion& a, const MemoryRegion& b) {
    return a.base == b.base && a.size == b.size;
}

class ProcessAddressSpace final : public detail::AddressSpace {
public:
    explicit ProcessAddressSpace(std::uint32_t pid) : pid_(pid), map_(kUserSpaceEnd) {}

    // During a search, queries look at one copy of the map instead of
    // reading the maps file again for every region; a game has thousands of
    // mappings. The copy is taken at the first query and again only after a
    // read fails.
    void BeginSearch() override {
        searching_ = true;
        copyValid_ = false;
        flagsTaken_ = false;
        map_.ForgetUnreadable();
    }

    void EndSearch() override { searching_ = false; }

    bool QueryRegion(std::uint64_t address, MemoryRegion& region) override {
        if (!searching_) return QueryMapsFile(address, region);
        if (!copyValid_ && !TakeCopy("maps")) return false;
        return map_.Query(address, region);
    }

    detail::ReadResult Read(std::uint64_t address, void* buffer, std::uint64_t size) override {
        const detail::ReadResult result = ReadOnce(pid_, address, buffer, size);
        if (result.status != detail::ReadStatus::PartialCopy || !searching_) return result;
        return AfterFailedRead(address, buffer, size);
    }

    // Many small mappings are read with one call: the call's own cost
    // outweighs copying a few pages.
    std::size_t RangesPerRead() const override { return kRangesPerCall; }

    std::size_t ReadRanges(const detail::ReadRange* ranges, std::size_t count) override {
        return ReadRangesOnce(pid_, ranges, count);
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
            next.base = line.start;
            next.size = line.end - line.start;
            detail::ClassifyMapsRegion(line, next);
            found = true;
            return false;
        });
        return ok && detail::RegionAround(address, previousEnd, found ? &next : nullptr, kUserSpaceEnd, region);
    }

    // A new copy of the map from /proc/<pid>/maps, or from smaps, whose
    // VmFlags mark the mappings of devices and I/O memory.
    bool TakeCopy(const char* file) {
        map_.Clear();
        copyValid_ = ForEachLine(pid_, file, [&](char* line) {
            MapsLine parsed;
            bool cannotBeRead = false;
            if (detail::ParseMapsLine(line, parsed)) {
                map_.Add(parsed);
            } else if (detail::ParseVmFlags(line, cannotBeRead) && cannotBeRead) {
                map_.MarkLastUnreadable();
            }
            return true;
        });
        return copyValid_;
    }

    // A read of a mapping that the copy lists as readable has failed: the
    // map has changed since the copy was taken, or no read reaches that
    // mapping. A new copy tells them apart; the first of a search comes from
    // smaps, so every device and I/O mapping is known at once. A mapping so
    // flagged, or one listed unchanged that fails a second read, is stepped
    // over like a no-access region for the rest of the search (Failed); a
    // changed map is a partial copy, which the scan counts and retries.
    detail::ReadResult AfterFailedRead(std::uint64_t address, void* buffer, std::uint64_t size) {
        detail::ReadResult partialCopy;
        partialCopy.status = detail::ReadStatus::PartialCopy;
        MemoryRegion before;
        const bool listed = map_.MappingAt(address, before);
        const bool withFlags = !flagsTaken_;
        flagsTaken_ = true;
        MemoryRegion now;
        if (!TakeCopy(withFlags ? "smaps" : "maps") || !listed || !map_.MappingAt(address, now) ||
            !SameRange(before, now)) {
            return partialCopy;
        }
        if (now.readable) {
            const detail::ReadResult again = ReadOnce(pid_, address, buffer, size);
            if (again.status != detail::ReadStatus::PartialCopy) return again;
            map_.MarkUnreadable(now);
        }
        return detail::ReadResult{};  // Failed
    }

    std::uint32_t pid_;
    bool searching_ = false;
    bool copyValid_ = false;
    bool flagsTaken_ = false;  // a copy of this search came from smaps
    detail::MemoryMap map_;
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

// Transparent huge pages on request ("madvise" in
// /sys/kernel/mm/transparent_hugepage/enabled) or always: the ring's first
// touch then faults in two 2 MiB pages. Elsewhere the hint is ignored.
void detail::PrepareScanRing(void* ring, std::size_t size) {
    madvise(ring, size, MADV_HUGEPAGE);
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

// A module is a file mapped into the process (ModuleExtent: from its first
// mapping to its last, and over the globals after it). The path is kept in
// a fixed buffer, so the lookup allocates nothing that could throw; a path
// longer than any the kernel prints is never chosen.
bool detail::ChooseModule(TargetProcess& target, ModuleChooser chooses, const void* context, ModuleSpan& span) {
    char path[kMappedPathCapacity];  // of the chosen module's first mapping
    std::optional<ModuleExtent> chosen;
    const bool ok = ForEachMapping(target.Pid(), [&](const MapsLine& line) {
        const bool file = line.path[0] == '/';
        if (chosen) {
            chosen->Next(line, file && std::strcmp(path, line.path) == 0);
        } else if (file && std::strlen(line.path) < sizeof path && chooses(BaseName(line.path), context)) {
            std::strcpy(path, line.path);
            chosen.emplace(line);
        }
        return true;
    });
    if (!ok || !chosen) return false;
    span.base = chosen->Base();
    span.size = chosen->Size();
    return true;
}

// Grouped as FindModule groups them: one module per file path, in the order
// of its first mapping, with the same extent.
bool ListModules(TargetProcess& target, const std::function<void(const ModuleEntry&)>& visit) {
    std::vector<std::string> paths;
    std::vector<ModuleExtent> extents;
    constexpr std::size_t kNone = SIZE_MAX;
    std::size_t previous = kNone;  // the module of the line before
    const bool ok = ForEachMapping(target.Pid(), [&](const MapsLine& line) {
        std::size_t module = kNone;
        if (line.path[0] == '/') {
            module = static_cast<std::size_t>(std::find(paths.begin(), paths.end(), line.path) - paths.begin());
            if (module == paths.size()) {
                paths.emplace_back(line.path);
                extents.emplace_back(line);
            } else {
                extents[module].Next(line, true);
            }
        }
        // Only the module of the line before can take what follows it.
        if (previous != kNone && previous != module) extents[previous].Next(line, false);
        previous = module;
        return true;
    });
    if (!ok) return false;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        visit(ModuleEntry{BaseName(paths[i].c_str()), extents[i].Base(), extents[i].Size()});
    }
    return true;
}
