#pragma once
// Reading and scanning another process's memory, written once over the
// AddressSpace interface that each OS backend implements. Internal to
// target/: the public operations are ReadTargetMemory and FindPattern.

#include <cstddef>
#include <cstdint>

#include "target/address_space.h"
#include "target/target_process.h"

namespace detail {

// Scans read their memory in chunks of this size into the one ScanBuffer.
constexpr std::uint64_t kScanChunkSize = 0x200000;
// The ScanBuffer is a ring of two chunks, so the chunk just read and the
// whole chunk before it are always present: windows that span two chunks
// are tested without copying.
constexpr std::size_t kScanBufferSize = 0x400000;
// The ScanBuffer starts at a multiple of this, the size of a large page on
// x86 and x86-64.
constexpr std::size_t kScanRingAlignment = 0x200000;
// A region whose reads end in a partial copy is attempted this often in all.
constexpr int kScanAttemptsPerRegion = 3;
// A pattern longer than one chunk does not fit the ring and is refused.
constexpr std::size_t kMaxPatternLength = kScanChunkSize;

// True when exactly `size` bytes at `address` were copied into `buffer`. The
// region that holds the address must be readable and hold the whole range:
// a read never extends past the run of pages that the query reports, even
// when the pages beyond are readable too.
bool ReadExact(AddressSpace& space, std::uint64_t address, void* buffer, std::uint64_t size);

// True with the lowest address in [start, end), clamped to the application
// range, where the pattern matches within one region. With `executableOnly`
// only code regions are scanned. A failed region query or a third partial
// copy in one region ends the search without a match; any other unreadable
// region is skipped. Where the space reads many ranges per call, runs of
// small regions are read together, each still searched on its own. The
// whole search runs between the space's BeginSearch and EndSearch. Uses the
// one static ScanBuffer, so scans never run at the same time.
bool ScanForPattern(AddressSpace& space, const BytePattern& pattern, std::uint64_t start, std::uint64_t end,
                    bool executableOnly, std::uint64_t& match);

}  // namespace detail

