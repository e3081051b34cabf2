// The region walk and the chunked ring scan of memory_scan.h.
#include "target/memory_scan.h"

#include <algorithm>
#include <cstring>

#include "target/pattern_matcher.h"
#include "target/target_backend.h"

namespace detail {
namespace {

// The kernel's copy of another process's memory runs at a third of its
// speed on some processors when the destination lies a few bytes past the
// source's place within a line of this size. So every byte a scan reads
// lands at the same offset within a line as it has in the target.
constexpr std::size_t kLineSize = 64;
static_assert(kScanBufferSize == 2 * kScanChunkSize, "the ring holds the chunk just read and the one before");

// The one buffer of the program that scans read into, used as a ring: the
// byte at offset n of the current region's scan lands at RingPosition(n,
// skew), skew being the offset of the scan's start within its line. A chunk
// that runs past the ring's end is read on into the slack after it, and its
// bytes there are then copied to the ring's start. The static storage has
// room to align the ring to kScanRingAlignment, so the OS can back it with
// two large pages; the backend is asked to before its first use. Untouched,
// the storage costs no memory.
std::uint8_t scanRingStorage[kScanRingAlignment + kScanBufferSize + kLineSize];

std::uint8_t* ScanRing() {
    static std::uint8_t* const ring = [] {
        const auto address = reinterpret_cast<std::uintptr_t>(scanRingStorage);
        const std::size_t skip = (kScanRingAlignment - address % kScanRingAlignment) % kScanRingAlignment;
        std::uint8_t* aligned = scanRingStorage + skip;
        PrepareScanRing(aligned, kScanBufferSize);
        return aligned;
    }();
    return ring;
}

std::size_t RingPosition(std::uint64_t offset, std::size_t skew) {
    return static_cast<std::size_t>((offset + skew) % kScanBufferSize);
}

// Where a byte read from `address` goes at or after ring offset `from`: the
// first offset with the same place within a line.
std::size_t InLineWith(std::uint64_t address, std::size_t from) {
    return from + static_cast<std::size_t>((address - from) % kLineSize);
}

// Every byte that scans have read, for ScannedByteCount.
std::uint64_t scannedBytes = 0;

enum class RegionOutcome { NoMatch, Match, PartialCopy };

std::uint64_t RegionEnd(const MemoryRegion& region) {
    const std::uint64_t end = region.base + region.size;
    return end < region.base ? UINT64_MAX : end;  // a region that reaches the top of the address space
}

// A reply that does not hold the address counts as a failed query, so the
// region walk always moves forward.
bool QueryHolding(AddressSpace& space, std::uint64_t address, MemoryRegion& region) {
    return space.QueryRegion(address, region) && region.base <= address && address < RegionEnd(region);
}

// A window that starts at ring offset `start` and runs past the ring's end:
// its first part lies in the buffer's last bytes, the rest in its first bytes.
bool RingWindowMatches(const BytePattern& pattern, std::size_t start) {
    const std::uint8_t* ring = ScanRing();
    for (std::size_t j = 0; j < pattern.bytes.size(); ++j) {
        std::size_t at = start + j;
        if (at >= kScanBufferSize) at -= kScanBufferSize;
        if (pattern.mask[j] != 0 && ring[at] != pattern.bytes[j]) return false;
    }
    return true;
}

// Tests, in ascending order, the windows at scan offsets first .. read - m,
// whose bytes [first, read) all sit in the ring, placed with `skew`. True
// with the offset of the first that matches.
bool FindInRing(const PatternMatcher& matcher, const BytePattern& pattern, std::uint64_t first,
                std::uint64_t read, std::size_t skew, std::uint64_t& offset) {
    const std::size_t begin = RingPosition(first, skew);
    const std::size_t span = static_cast<std::size_t>(read - first);  // less than the ring's size
    std::size_t k;
    if (begin + span <= kScanBufferSize) {
        k = matcher.FindFirst(ScanRing() + begin, span);
        offset = first + k;
        return k != kNoMatch;
    }
    // The bytes run past the ring's end, which scan offset `wrap` meets.
    const std::uint64_t wrap = first + (kScanBufferSize - begin);
    k = matcher.FindFirst(ScanRing() + begin, kScanBufferSize - begin);
    if (k != kNoMatch) {
        offset = first + k;
        return true;
    }
    const std::uint64_t length = matcher.Length();
    for (std::uint64_t w = std::max(first, wrap + 1 - length); w < wrap && w + length <= read; ++w) {
        if (RingWindowMatches(pattern, RingPosition(w, skew))) {
            offset = w;
            return true;
        }
    }
    k = matcher.FindFirst(ScanRing(), static_cast<std::size_t>(read - wrap));
    offset = wrap + k;
    return k != kNoMatch;
}

// Scans [start, limit) of one readable region chunk by chunk; after each
// chunk it tests every window that now lies wholly in the bytes read.
RegionOutcome ScanRegion(AddressSpace& space, const PatternMatcher& matcher, const BytePattern& pattern,
                         std::uint64_t start, std::uint64_t limit, std::uint64_t& match) {
    const std::uint64_t total = limit - start;
    const std::uint64_t length = matcher.Length();
    const std::size_t skew = static_cast<std::size_t>(start % kLineSize);
    std::uint64_t read = 0;        // bytes of this region read so far
    std::uint64_t nextWindow = 0;  // offset of the first window not yet tested
    while (read < total) {
        const std::uint64_t chunk = std::min(kScanChunkSize, total - read);
        const std::size_t at = RingPosition(read, skew);  // the chunk ends at most skew bytes past the ring
        ReadResult result = space.Read(start + read, ScanRing() + at, chunk);
        if (result.status == ReadStatus::PartialCopy) return RegionOutcome::PartialCopy;
        if (result.status != ReadStatus::Copied || result.bytesRead != chunk) return RegionOutcome::NoMatch;
        if (at + chunk > kScanBufferSize) {
            std::memcpy(ScanRing(), ScanRing() + kScanBufferSize, static_cast<std::size_t>(at + chunk - kScanBufferSize));
        }
        read += chunk;
        scannedBytes += chunk;
        if (read < length) continue;
        std::uint64_t offset;
        if (FindInRing(matcher, pattern, nextWindow, read, skew, offset)) {
            match = start + offset;
            return RegionOutcome::Match;
        }
        nextWindow = read - length + 1;
    }
    return RegionOutcome::NoMatch;
}

bool Scannable(const MemoryRegion& region, bool executableOnly) {
    return region.readable && (!executableOnly || region.executable);
}

// Most ranges one read of many small regions takes.
constexpr std::size_t kMaxRangesPerRead = 256;

// Where small regions follow each other (a game's heap can be tens of
// thousands of them), reads the next ones from `start` with one call for as
// many as fit the ring's first chunk, instead of one call each, and tests
// each region's windows within its own bytes, in order. It visits and skips
// regions as the region-by-region scan does. True with the lowest match among the regions
// that arrived whole; otherwise `start` moves past them and the regions it
// skipped, to the first that did not arrive whole (left to the
// region-by-region scan, which reads it again and learns why), to the first
// region that does not fit, or to where a query failed.
bool ScanSmallRegions(AddressSpace& space, const PatternMatcher& matcher, std::uint64_t& start, std::uint64_t end,
                      bool executableOnly, std::uint64_t& match) {
    const std::size_t limit = std::min(space.RangesPerRead(), kMaxRangesPerRead);
    if (limit < 2) return false;
    ReadRange ranges[kMaxRangesPerRead];
    std::size_t count = 0;
    std::size_t used = 0;  // ring bytes taken, with the gaps that keep bytes in line
    std::uint64_t next = start;
    while (next < end && count < limit) {
        MemoryRegion region;
        if (!QueryHolding(space, next, region)) break;
        if (Scannable(region, executableOnly)) {
            const std::uint64_t size = std::min(end, RegionEnd(region)) - next;
            // Keeping the bytes in line may put `at` past the chunk's end.
            const std::size_t at = InLineWith(next, used);
            if (at > kScanChunkSize || size > kScanChunkSize - at) break;
            ranges[count++] = ReadRange{next, size, ScanRing() + at};
            used = at + static_cast<std::size_t>(size);
        }
        next = RegionEnd(region);
    }
    if (count == 0) {
        start = next;  // only regions the scan skips
        return false;
    }
    const std::size_t whole = space.ReadRanges(ranges, count);
    for (std::size_t i = 0; i < whole && i < count; ++i) {
        const std::size_t size = static_cast<std::size_t>(ranges[i].size);
        scannedBytes += size;
        const std::size_t k = matcher.FindFirst(ranges[i].buffer, size);
        if (k != kNoMatch) {
            match = ranges[i].address + k;
            return true;
        }
    }
    start = whole >= count ? next : ranges[whole].address;
    return false;
}

}  // namespace

bool ReadExact(AddressSpace& space, std::uint64_t address, void* buffer, std::uint64_t size) {
    MemoryRegion region;
    if (!QueryHolding(space, address, region) || !region.readable) return false;
    if (size > RegionEnd(region) - address) return false;
    if (size == 0) return true;
    const ReadResult result = space.Read(address, buffer, size);
    return result.status == ReadStatus::Copied && result.bytesRead == size;
}

bool ScanForPattern(AddressSpace& space, const BytePattern& pattern, std::uint64_t start, std::uint64_t end,
                    bool executableOnly, std::uint64_t& match) {
    if (pattern.bytes.size() != pattern.mask.size() || pattern.bytes.size() > kMaxPatternLength) {
        return false;
    }
    const AddressRange range = space.ApplicationRange();
    start = std::max(start, range.lowest);
    end = std::min(end, range.end);
    const PatternMatcher matcher(pattern);
    const SearchScope search(space);
    int attempts = 0;
    while (start < end) {
        if (attempts == 0) {
            if (ScanSmallRegions(space, matcher, start, end, executableOnly, match)) return true;
            if (start >= end) break;
        }
        MemoryRegion region;
        if (!QueryHolding(space, start, region)) return false;
        RegionOutcome outcome = RegionOutcome::NoMatch;
        if (Scannable(region, executableOnly)) {
            outcome = ScanRegion(space, matcher, pattern, start, std::min(end, RegionEnd(region)), match);
        }
        if (outcome == RegionOutcome::Match) return true;
        if (outcome == RegionOutcome::PartialCopy) {
            if (++attempts == kScanAttemptsPerRegion) return false;
            continue;  // query and scan the same start again
        }
        attempts = 0;
        start = RegionEnd(region);
    }
    return false;
}

}  // namespace detail

std::uint64_t ScannedByteCount() { return detail::scannedBytes; }
