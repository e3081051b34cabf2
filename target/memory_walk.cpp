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

// The kernel's copy from another process runs at a third of its speed on
// some processors when the destination's place within a line of this size
// differs from the source's, so every chunk lands in line with the target.
constexpr std::size_t kLineSize = 64;

// Room in the walk's buffer: the repeated bytes before a chunk, a line to
// put the chunk in line, and a line to align the whole.
std::size_t BufferSize(std::size_t chunkSize, std::size_t overlap) {
    return (overlap + kLineSize - 1) / kLineSize * kLineSize + chunkSize + 2 * kLineSize;
}

// Walks [start, end) of one region; false when `visit` asked to stop.
bool WalkRegion(AddressSpace& space, std::uint64_t start, std::uint64_t end, std::size_t chunkSize,
                std::size_t overlap, std::vector<std::uint8_t>& buffer,
                const std::function<bool(const MemoryChunk&)>& visit) {
    const auto storage = reinterpret_cast<std::uintptr_t>(buffer.data());
    std::uint8_t* const origin = buffer.data() + (kLineSize - storage % kLineSize) % kLineSize +
                                 (overlap + kLineSize - 1) / kLineSize * kLineSize;
    std::size_t kept = 0;  // bytes of the chunk before, just before where this one lands
    const std::uint8_t* previous = nullptr;
    for (std::uint64_t at = start; at < end;) {
        const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, end - at));
        std::uint8_t* const landing = origin + static_cast<std::size_t>(at % kLineSize);
        if (kept != 0) std::memmove(landing - kept, previous, kept);
        const detail::ReadResult result = space.Read(at, landing, size);
        if (result.status != detail::ReadStatus::Copied || result.bytesRead != size) return true;
        MemoryChunk chunk;
        chunk.address = at - kept;
        chunk.bytes = landing - kept;
        chunk.size = kept + size;
        chunk.repeated = kept;
        chunk.last = at + size >= end;
        if (!visit(chunk)) return false;
        at += size;
        kept = std::min(overlap, chunk.size);
        previous = chunk.bytes + chunk.size - kept;
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
        buffer.resize(BufferSize(chunkSize, overlap));
        const detail::SearchScope search(space);
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
