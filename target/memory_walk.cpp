// The bulk reads of memory_walk.h, over the backend's AddressSpace.
#include "target/memory_walk.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "target/address_space.h"

namespace {

using detail::AddressSpace;
using detail::MemoryRegion;

std::uint64_t RegionEnd(const MemoryRegion& region) {
    const std::uint64_t end = region.base + region.size;
    return end < region.base ? UINT64_MAX : end;
}

bool Wanted(const MemoryRegion& region, RegionKind kind) {
    if (!region.readable) return false;
    return kind == RegionKind::Writable ? region.writable : region.executable;
}

// Holds the address space in its search mode (one description of the memory
// for the whole walk) for as long as it lives.
class SearchScope {
public:
    explicit SearchScope(AddressSpace& space) : space_(space) { space_.BeginSearch(); }
    SearchScope(const SearchScope&) = delete;
    SearchScope& operator=(const SearchScope&) = delete;
    ~SearchScope() { space_.EndSearch(); }

private:
    AddressSpace& space_;
};

// Walks [start, end) of one region; false when `visit` asked to stop.
bool WalkRegion(AddressSpace& space, std::uint64_t start, std::uint64_t end, std::size_t chunkSize,
                std::size_t overlap, std::vector<std::uint8_t>& buffer,
                const std::function<bool(const MemoryChunk&)>& visit) {
    std::size_t kept = 0;  // bytes of the chunk before, at the buffer's start
    for (std::uint64_t at = start; at < end;) {
        const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, end - at));
        const detail::ReadResult result = space.Read(at, buffer.data() + kept, size);
        if (result.status != detail::ReadStatus::Copied || result.bytesRead != size) return true;
        MemoryChunk chunk;
        chunk.address = at - kept;
        chunk.bytes = buffer.data();
        chunk.size = kept + size;
        chunk.repeated = kept;
        chunk.last = at + size >= end;
        if (!visit(chunk)) return false;
        at += size;
        const std::size_t keep = std::min(overlap, chunk.size);
        std::memmove(buffer.data(), buffer.data() + chunk.size - keep, keep);
        kept = keep;
    }
    return true;
}

}  // namespace

bool ForEachMemoryChunk(TargetProcess& target, RegionKind kind, std::size_t chunkSize, std::size_t overlap,
                        const std::function<bool(const MemoryChunk&)>& visit) {
    if (chunkSize == 0) return false;
    std::vector<std::uint8_t> buffer;
    AddressSpace& space = target.Memory();
    try {
        buffer.resize(chunkSize + overlap);
        const SearchScope search(space);
        const detail::AddressRange range = space.ApplicationRange();
        for (std::uint64_t at = range.lowest; at < range.end;) {
            MemoryRegion region;
            if (!space.QueryRegion(at, region) || region.base > at || RegionEnd(region) <= at) return false;
            const std::uint64_t end = std::min(RegionEnd(region), range.end);
            if (Wanted(region, kind) && !WalkRegion(space, at, end, chunkSize, overlap, buffer, visit)) return true;
            at = end;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void ReadTargetRanges(TargetProcess& target, std::vector<TargetRange>& ranges) {
    AddressSpace& space = target.Memory();
    const std::size_t perCall = space.RangesPerRead();
    std::vector<detail::ReadRange> batch;
    std::size_t next = 0;
    while (next < ranges.size()) {
        std::size_t whole = 0;
        if (perCall > 1) {
            const std::size_t count = std::min(perCall, ranges.size() - next);
            batch.clear();
            for (std::size_t i = next; i < next + count; ++i) {
                batch.push_back(detail::ReadRange{ranges[i].address, ranges[i].size, ranges[i].buffer});
            }
            whole = std::min(space.ReadRanges(batch.data(), batch.size()), count);
            for (std::size_t i = next; i < next + whole; ++i) ranges[i].read = true;
            next += whole;
        }
        // The first range the batch did not bring whole (or every range,
        // where the OS reads one per call) is read on its own, which tells a
        // range that is gone from one that only stopped the batch.
        if (next < ranges.size()) {
            TargetRange& range = ranges[next++];
            range.read = ReadTargetMemory(target, range.address, range.buffer, range.size);
        }
    }
}
