// Fuzz target, differential: the scan for a byte pattern over an address
// space the fuzzer lays out (regions with gaps between them, Windows
// protections and states, reads that fail, fall short or end in partial
// copies, queries that fail, a narrowed application range) against a plain
// search written here over the same layout: both must give the same lowest
// address, or both none. Regions are small and sparse, so that thousands of
// layouts run a second; one in a while is large enough to fill several scan
// chunks and wrap the scan's ring.
//
// Input: byte 0 the options (bit 0 code regions only; bits 1-2 the start:
// 0, the first region, an offset into it, or the third region; bits 3-4 the
// end: no limit, the last region's end, 40 bytes short of it, or the range
// end narrowed there), byte 1 the region count, then 9 bytes per region
// (gap, size less one up to 8 KiB, protection, faults, fill, where partial
// copies begin, large or not), then the pattern (a length byte, a mask byte per 8
// bytes, the bytes), then plants: where to write a copy of the pattern or of
// a few bytes of the input.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "support/fake_address_space.h"
#include "target/memory_scan.h"
#include "target/region_class.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "memory_scan_fuzzer: %s\n", what);
    std::abort();
}

// Reads the input front to back; past its end every value is 0.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t Word16() { return Byte() | static_cast<std::uint32_t>(Byte()) << 8; }
    bool AtEnd() const { return at_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct Protection {
    std::uint32_t state;
    std::uint32_t protect;
};

const Protection kProtections[] = {
    {kMemCommit, kPageReadWrite},
    {kMemCommit, kPageExecuteRead},
    {kMemCommit, kPageReadOnly},
    {kMemCommit, kPageExecuteReadWrite},
    {kMemCommit, kPageExecute},
    {kMemCommit, kPageNoAccess},
    {kMemCommit, kPageReadWrite | kPageGuard},
    {kMemCommit, kPageExecuteRead | kPageGuard},
    {kMemCommit, kPageExecuteWriteCopy},
    {kMemReserve, kPageReadWrite},
    {kMemFree, kPageNoAccess},
    {kMemCommit, 0x08},                  // write-copy
    {kMemCommit, kPageReadOnly | 0x200}, // with the no-cache modifier
};

constexpr std::uint64_t kLowest = 0x10000;
// A region's last byte set to this makes it large, up to 5 MiB: rare, as
// such a layout takes milliseconds where others take microseconds.
constexpr std::uint8_t kLargeRegion = 'L';
constexpr std::uint64_t kLargeRegionFactor = 640;
constexpr std::uint32_t kRegionSizeLimit = 8192;

// The plain search is this target's own yardstick, not code under test:
// its comparisons are kept out of the fuzzer's coverage, which would
// otherwise cost most of the time of a run.
#if defined(__clang__)
#define NOT_COVERED __attribute__((no_sanitize("coverage")))
#else
#define NOT_COVERED
#endif

NOT_COVERED bool WindowMatches(const BytePattern& pattern, const std::uint8_t* window) {
    for (std::size_t j = 0; j < pattern.bytes.size(); ++j) {
        if (pattern.mask[j] != 0 && window[j] != pattern.bytes[j]) return false;
    }
    return true;
}

// The address of the lowest window that lies in the region's bytes
// [from, to) (offsets) and matches, tested window by window (skipping ahead
// to where the first fixed byte fits).
NOT_COVERED std::optional<std::uint64_t> FirstWindow(const FakeRegion& region, const BytePattern& pattern,
                                                     std::uint64_t from, std::uint64_t to) {
    const std::uint64_t length = pattern.bytes.size();
    const std::uint8_t* bytes = region.bytes.data();
    const auto fixed = std::find(pattern.mask.begin(), pattern.mask.end(), 1);
    const std::uint64_t k = fixed - pattern.mask.begin();
    for (std::uint64_t offset = from; offset + length <= to; ++offset) {
        if (fixed != pattern.mask.end()) {
            const void* next = std::memchr(bytes + offset + k, pattern.bytes[k], to - length + 1 - offset);
            if (next == nullptr) break;
            offset = static_cast<const std::uint8_t*>(next) - bytes - k;
        }
        if (WindowMatches(pattern, bytes + offset)) return region.base + offset;
    }
    return std::nullopt;
}

// The plain search: regions in address order, the part of each in
// [lowest, highest) that the scan may read, window by window. A region
// whose query fails ends the search where the walk meets it; reads that
// end in a partial copy from some address on are tried three times in all.
std::optional<std::uint64_t> PlainSearch(const std::vector<const FakeRegion*>& regions, const AddressRange& range,
                                         const BytePattern& pattern, std::uint64_t start, std::uint64_t end,
                                         bool executableOnly) {
    const std::uint64_t lowest = std::max(start, range.lowest), highest = std::min(end, range.end);
    for (const FakeRegion* region : regions) {
        const std::uint64_t regionEnd = region->base + region->bytes.size();
        if (regionEnd <= lowest || region->bytes.empty()) continue;
        if (region->base >= highest) break;
        if (region->queryFails) return std::nullopt;
        MemoryRegion kind;
        ClassifyWindowsRegion(region->state, region->protect, kind);
        if (!kind.readable || (executableOnly && !kind.executable)) continue;

        const std::uint64_t from = std::max(lowest, region->base) - region->base;
        const std::uint64_t to = std::min(highest, regionEnd) - region->base;
        // The chunk whose read first ends in a partial copy, if any.
        std::uint64_t firstPartial = to;
        if (region->partialCopies > 0) {
            for (std::uint64_t chunk = from; chunk < to; chunk += kScanChunkSize) {
                if (chunk >= region->partialCopyFrom) {
                    firstPartial = chunk;
                    break;
                }
            }
        }
        const bool tooManyPartialCopies = region->partialCopies >= kScanAttemptsPerRegion;
        if (firstPartial == from && tooManyPartialCopies) return std::nullopt;
        if (region->readFails || region->shortRead) continue;  // its first read fails
        // Windows wholly in the chunks before the first partial copy have
        // been tested by the time it comes.
        if (firstPartial < to) {
            if (auto early = FirstWindow(*region, pattern, from, firstPartial)) return early;
            if (tooManyPartialCopies) return std::nullopt;
        }
        if (auto match = FirstWindow(*region, pattern, from, to)) return match;
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const std::uint8_t options = input.Byte();
    const int regionCount = 1 + input.Byte() % 8;

    FakeAddressSpace space;
    std::vector<FakeRegion*> regions;
    std::uint64_t next = kLowest;
    bool hasLarge = false;
    for (int i = 0; i < regionCount; ++i) {
        const std::uint64_t gap = input.Word16();
        std::uint64_t regionSize = 1 + input.Word16() % kRegionSizeLimit;
        const std::uint8_t protection = input.Byte();
        const std::uint8_t faults = input.Byte();
        const std::uint8_t fill = input.Byte();
        const std::uint8_t partialFrom = input.Byte();
        const std::uint8_t largeMark = input.Byte();
        if (largeMark == kLargeRegion && !hasLarge) {
            regionSize *= kLargeRegionFactor;
            hasLarge = true;
        }
        const Protection& kind = kProtections[protection % (sizeof kProtections / sizeof kProtections[0])];
        FakeRegion& region = space.Add(next + gap, regionSize, kind.protect, kind.state);
        std::fill(region.bytes.begin(), region.bytes.end(), fill);
        region.readFails = (faults & 1) != 0;
        region.shortRead = (faults & 2) != 0;
        region.queryFails = (faults & 0x1C) == 0x1C;  // rarer than the others
        region.partialCopies = (faults >> 5) & 3;
        region.partialCopyFrom = regionSize * partialFrom / 256;
        regions.push_back(&region);
        next = region.base + regionSize;
    }

    BytePattern pattern;
    const std::size_t patternLength = input.Byte() % 49;
    std::vector<std::uint8_t> maskBits((patternLength + 7) / 8);
    for (std::uint8_t& bits : maskBits) bits = input.Byte();
    for (std::size_t j = 0; j < patternLength; ++j) {
        pattern.bytes.push_back(input.Byte());
        pattern.mask.push_back((maskBits[j / 8] >> (j % 8) & 1) != 0 ? 0 : 1);  // a set bit is a wildcard
    }

    // Plants: a copy of the pattern, or up to 16 bytes of the input, at an
    // offset into a region.
    while (!input.AtEnd()) {
        FakeRegion& region = *regions[input.Byte() % regions.size()];
        const std::uint8_t what = input.Byte();
        // Offsets scaled up (bit 7) reach into a large region; its low bits
        // keep windows that cross a chunk's end within reach.
        const std::uint64_t word = input.Word16();
        const std::uint64_t offset = (what & 0x80) != 0 ? (word << 7) + (what & 0x7F) : word;
        std::vector<std::uint8_t> bytes = pattern.bytes;
        if ((what & 1) != 0) {
            bytes.resize(what >> 1 & 15);
            for (std::uint8_t& byte : bytes) byte = input.Byte();
        }
        for (std::size_t j = 0; j < bytes.size() && offset + j < region.bytes.size(); ++j) {
            region.bytes[offset + j] = bytes[j];
        }
    }

    const FakeRegion& first = *regions.front();
    const FakeRegion& last = *regions.back();
    const std::uint64_t lastEnd = last.base + last.bytes.size();
    std::uint64_t start = 0;
    switch (options >> 1 & 3) {
    case 1: start = first.base; break;
    case 2: start = first.base + first.bytes.size() / 2 + 1; break;
    case 3: start = regions[std::min<std::size_t>(2, regions.size() - 1)]->base; break;
    }
    std::uint64_t end = ~std::uint64_t{0};
    switch (options >> 3 & 3) {
    case 1: end = lastEnd; break;
    case 2: end = lastEnd > 40 ? lastEnd - 40 : 0; break;
    case 3: space.range.end = lastEnd > kLowest + 40 ? lastEnd - 40 : kLowest + 1; break;
    }
    const bool executableOnly = (options & 1) != 0;

    std::vector<const FakeRegion*> inOrder(regions.begin(), regions.end());
    const std::optional<std::uint64_t> expected =
        PlainSearch(inOrder, space.range, pattern, start, end, executableOnly);
    std::uint64_t match = 0;
    const bool found = ScanForPattern(space, pattern, start, end, executableOnly, match);
    Check(found == expected.has_value(), found ? "the scan found a match the plain search does not"
                                               : "the scan missed a match");
    if (found) Check(match == *expected, "the scan found another address than the lowest");
    return 0;
}
