#pragma once
// Reading a target's memory in bulk, for tools that look at all of it (a
// value search, a search for code that refers to an address) rather than
// for one pattern: every region of one kind read chunk by chunk, and many
// scattered ranges read with as few OS calls as the OS allows.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "target/target_process.h"

// Which readable regions a walk visits.
enum class RegionKind {
    Writable,    // where a program keeps its variables
    Executable,  // code, as Find searches by default
};

// A piece of a region as a walk hands it over. `bytes` holds `size` bytes
// read from `address`; the first `repeated` of them are the last bytes of
// the chunk before in the same region, handed over again so that a window
// across the chunks' border lies whole in one chunk. `last`: no chunk of
// this region follows.
struct MemoryChunk {
    std::uint64_t address = 0;
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::size_t repeated = 0;
    bool last = false;
};

// Reads the readable regions of `kind` in the application range, in
// ascending order, in chunks of at most `chunkSize` new bytes (a multiple of
// 8, so values keep their alignment), each preceded by up to `overlap` bytes
// of the chunk before, and calls `visit` with each until it returns false. A
// chunk that cannot be read ends its region's walk, which goes on with the
// next region. False when the regions cannot be listed or the buffer cannot
// be had.
bool ForEachMemoryChunk(TargetProcess& target, RegionKind kind, std::size_t chunkSize, std::size_t overlap,
                        const std::function<bool(const MemoryChunk&)>& visit);

// A range to read and where its bytes go.
struct TargetRange {
    std::uint64_t address = 0;
    std::uint64_t size = 0;
    std::uint8_t* buffer = nullptr;
    bool read = false;  // set: the whole range arrived
};

// Reads each range, as ReadTargetMemory would, with one OS call for many of
// them where the OS reads many ranges per call, and sets `read` on those
// that arrived whole.
void ReadTargetRanges(TargetProcess& target, std::vector<TargetRange>& ranges);
