// Fuzz target, differential: the scan for a byte pattern over an address
// space the fuzzer lays out (regions with gaps between them, Windows
// protections and states, reads that fail, fall short or end in partial
// copies, queries that fail, a narrowed application range, one range read
// per call or many) against a plain search written here over the same
// layout: both must give the same lowest address, or both none.
//
// The address space is sparse: a region is a fill byte and a few planted
// bytes, and a read writes them into the reader's buffer, so that no layout
// allocates its regions' memory. Regions are small (up to 8 KiB); two in a
// layout may be large (up to 5 MiB), to fill several scan chunks and wrap the
// scan's ring, and to fill a batched read of small regions up to a chunk's
// end (borders and gaps need not be 64-byte aligned) with a large region
// behind. The plain search goes window by window; of the windows that
// hold only fill bytes, which are all alike, it tests the first.
//
// Input: byte 0 the options (bit 0 code regions only; bits 1-2 the start:
// 0, the first region, an offset into it, or the third region; bits 3-4 the
// end: no limit, the last region's end, 40 bytes short of it, or the range
// end narrowed there; bit 5 small regions read many per call, as on Linux,
// (256), instead of one per call), byte 1 the region count, then 9 bytes per region
// (gap, size less one, protection, faults, fill, where partial copies begin,
// large or not), then the pattern (a length byte, a mask byte per 8 bytes,
// the bytes), then plants: a copy of the pattern or a few bytes of the input
// at an offset into a region.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

#include "support/fake_address_space.h"
#include "target/memory_scan.h"

namespace {

using namespace detail;
using namespace detail::win_memory;

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

// The tests' fake region (its place, kind and faults) without its bytes:
// their count and what they hold are kept here.
struct SparseRegion : FakeRegion {
    std::uint64_t size = 0;
    std::uint8_t fill = 0;
    std::map<std::uint64_t, std::uint8_t> planted;  // offset: byte; every other byte is the fill

    std::uint64_t End() const { return base + size; }
    std::uint8_t ByteAt(std::uint64_t offset) const {
        auto found = planted.find(offset);
        return found != planted.end() ? found->second : fill;
    }
};

// Regions in address order; the gaps between them are free memory, and
// queries at or above the range's end fail, as Windows reports them.
class SparseAddressSpace final : public AddressSpace {
public:
    std::vector<SparseRegion> regions;
    AddressRange range{0x10000, 0x7FFFFFFF0000};

    bool QueryRegion(std::uint64_t address, MemoryRegion& out) override {
        if (address >= range.end) return false;
        std::uint64_t gapBase = 0;
        for (const SparseRegion& region : regions) {
            if (address < region.base) {
                out.base = gapBase;
                out.size = region.base - gapBase;
                ClassifyWindowsRegion(kMemFree, kPageNoAccess, out);
                return true;
            }
            if (address < region.End()) {
                if (region.queryFails) return false;
                out.base = region.base;
                out.size = region.size;
                ClassifyWindowsRegion(region.state, region.protect, out);
                return true;
            }
            gapBase = region.End();
        }
        out.base = gapBase;
        out.size = range.end - gapBase;
        ClassifyWindowsRegion(kMemFree, kPageNoAccess, out);
        return true;
    }

    ReadResult Read(std::uint64_t address, void* buffer, std::uint64_t size) override {
        SparseRegion* region = Holding(address);
        const ReadResult result = FakeReadOutcome(region, region != nullptr ? region->size : 0, address, size);
        if (result.status == ReadStatus::Copied) {
            const std::uint64_t offset = address - region->base, copied = result.bytesRead;
            auto* bytes = static_cast<std::uint8_t*>(buffer);
            std::memset(bytes, region->fill, copied);
            for (auto at = region->planted.lower_bound(offset); at != region->planted.end() && at->first < offset + copied;
                 ++at) {
                bytes[at->first - offset] = at->second;
            }
        }
        return result;
    }

    std::size_t RangesPerRead() const override { return rangesPerRead; }
    std::size_t ReadRanges(const ReadRange* ranges, std::size_t count) override {
        return FakeReadRanges(*this, ranges, count);
    }
    bool ReadsWhole(std::uint64_t address, std::uint64_t size) {
        SparseRegion* region = Holding(address);
        return FakeReadsWhole(region, region != nullptr ? region->size : 0, address, size);
    }

    AddressRange ApplicationRange() override { return range; }

    std::size_t rangesPerRead = 1;
    int rangeReads = 0;

private:
    SparseRegion* Holding(std::uint64_t address) {
        for (SparseRegion& region : regions) {
            if (region.base <= address && address < region.End()) return &region;
        }
        return nullptr;
    }
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
    {kMemCommit, 0x08},                   // write-copy
    {kMemCommit, kPageReadOnly | 0x200},  // with the no-cache modifier
};

constexpr std::uint64_t kLowest = 0x10000;
constexpr std::uint32_t kRegionSizeLimit = 8192;
// A region's last byte set to this makes it large: its size times 640.
constexpr std::uint8_t kLargeRegion = 'L';
constexpr std::uint64_t kLargeRegionFactor = 640;
constexpr int kMaxLargeRegions = 2;

bool WindowMatches(const SparseRegion& region, const BytePattern& pattern, std::uint64_t offset) {
    for (std::size_t j = 0; j < pattern.bytes.size(); ++j) {
        if (pattern.mask[j] != 0 && region.ByteAt(offset + j) != pattern.bytes[j]) return false;
    }
    return true;
}

// The address of the lowest window that starts in the region's bytes
// [from, to) (offsets), lies in them and matches, window by window (an
// empty pattern matches at `from` when there are bytes). A window without a
// planted byte holds only fill bytes, like every other such window: once
// one of them has failed, the search goes on at the next window that
// reaches a planted byte.
std::optional<std::uint64_t> FirstWindow(const SparseRegion& region, const BytePattern& pattern, std::uint64_t from,
                                         std::uint64_t to) {
    const std::uint64_t length = pattern.bytes.size();
    bool fillWindowFailed = false;
    for (std::uint64_t offset = from; offset < to && offset + length <= to; ++offset) {
        const auto planted = region.planted.lower_bound(offset);
        const bool onlyFill = planted == region.planted.end() || planted->first >= offset + length;
        if (onlyFill && fillWindowFailed) {
            if (planted == region.planted.end()) break;
            offset = std::max(offset, planted->first - length);  // the loop adds one
            continue;
        }
        if (WindowMatches(region, pattern, offset)) return region.base + offset;
        fillWindowFailed = fillWindowFailed || onlyFill;
    }
    return std::nullopt;
}

// The plain search: regions in address order, the part of each in
// [lowest, highest) that the scan may read, window by window. A region
// whose query fails ends the search where the walk meets it; reads that
// end in a partial copy from some address on are tried three times in all.
std::optional<std::uint64_t> PlainSearch(const SparseAddressSpace& space, const BytePattern& pattern,
                                         std::uint64_t start, std::uint64_t end, bool executableOnly) {
    const std::uint64_t lowest = std::max(start, space.range.lowest), highest = std::min(end, space.range.end);
    for (const SparseRegion& region : space.regions) {
        if (region.End() <= lowest) continue;
        if (region.base >= highest) break;
        if (region.queryFails) return std::nullopt;
        MemoryRegion kind;
        ClassifyWindowsRegion(region.state, region.protect, kind);
        if (!kind.readable || (executableOnly && !kind.executable)) continue;

        const std::uint64_t from = std::max(lowest, region.base) - region.base;
        const std::uint64_t to = std::min(highest, region.End()) - region.base;
        // The chunk whose read first ends in a partial copy, if any.
        std::uint64_t firstPartial = to;
        if (region.partialCopies > 0) {
            for (std::uint64_t chunk = from; chunk < to; chunk += kScanChunkSize) {
                if (chunk >= region.partialCopyFrom) {
                    firstPartial = chunk;
                    break;
                }
            }
        }
        const bool tooManyPartialCopies = region.partialCopies >= kScanAttemptsPerRegion;
        if (firstPartial == from && tooManyPartialCopies) return std::nullopt;
        if (region.readFails || region.shortRead) continue;  // its first read fails
        // Windows wholly in the chunks before the first partial copy have
        // been tested by the time it comes.
        if (firstPartial < to) {
            if (auto early = FirstWindow(region, pattern, from, firstPartial)) return early;
            if (tooManyPartialCopies) return std::nullopt;
        }
        if (auto match = FirstWindow(region, pattern, from, to)) return match;
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const std::uint8_t options = input.Byte();
    const int regionCount = 1 + input.Byte() % 8;

    SparseAddressSpace space;
    std::uint64_t next = kLowest;
    int largeRegions = 0;
    for (int i = 0; i < regionCount; ++i) {
        SparseRegion region;
        const std::uint64_t gap = input.Word16();
        region.size = 1 + input.Word16() % kRegionSizeLimit;
        const Protection& kind = kProtections[input.Byte() % (sizeof kProtections / sizeof kProtections[0])];
        const std::uint8_t faults = input.Byte();
        region.fill = input.Byte();
        const std::uint8_t partialFrom = input.Byte();
        if (input.Byte() == kLargeRegion && largeRegions < kMaxLargeRegions) {
            region.size *= kLargeRegionFactor;
            ++largeRegions;
        }
        region.base = next + gap;
        region.state = kind.state;
        region.protect = kind.protect;
        region.readFails = (faults & 1) != 0;
        region.shortRead = (faults & 2) != 0;
        region.queryFails = (faults & 0x1C) == 0x1C;  // rarer than the others
        region.partialCopies = (faults >> 5) & 3;
        region.partialCopyFrom = region.size * partialFrom / 256;
        next = region.End();
        space.regions.push_back(region);
    }

    BytePattern pattern;
    const std::size_t patternLength = input.Byte() % 49;
    std::vector<std::uint8_t> maskBits((patternLength + 7) / 8);
    for (std::uint8_t& bits : maskBits) bits = input.Byte();
    for (std::size_t j = 0; j < patternLength; ++j) {
        pattern.bytes.push_back(input.Byte());
        pattern.mask.push_back((maskBits[j / 8] >> (j % 8) & 1) != 0 ? 0 : 1);  // a set bit is a wildcard
    }

    // Large regions are there for the reading in chunks and the ring. Its
    // fill never passes for the pattern's first fixed byte, so that the
    // matcher does not verify a candidate at each of its millions of bytes
    // (small regions try that).
    const auto firstFixed = std::find(pattern.mask.begin(), pattern.mask.end(), 1);
    for (SparseRegion& region : space.regions) {
        if (region.size > kRegionSizeLimit && firstFixed != pattern.mask.end() &&
            region.fill == pattern.bytes[firstFixed - pattern.mask.begin()]) {
            region.fill ^= 0xFF;
        }
    }

    while (!input.AtEnd()) {
        SparseRegion& region = space.regions[input.Byte() % space.regions.size()];
        const std::uint8_t what = input.Byte();
        // Offsets scaled up (bit 7) reach into a large region; its low bits
        // keep windows that cross a chunk's end within reach.
        const std::uint64_t word = input.Word16();
        const std::uint64_t offset = (what & 0x80) != 0 ? (word << 7) + (what & 0x7F) : word;
        std::vector<std::uint8_t> bytes = pattern.bytes;
        if ((what & 0x81) == 1) {
            bytes.resize(what >> 1 & 15);
            for (std::uint8_t& byte : bytes) byte = input.Byte();
        }
        for (std::size_t j = 0; j < bytes.size() && offset + j < region.size; ++j) region.planted[offset + j] = bytes[j];
    }

    const SparseRegion& first = space.regions.front();
    const std::uint64_t lastEnd = space.regions.back().End();
    std::uint64_t start = 0;
    switch (options >> 1 & 3) {
    case 1: start = first.base; break;
    case 2: start = first.base + first.size / 2 + 1; break;
    case 3: start = space.regions[std::min<std::size_t>(2, space.regions.size() - 1)].base; break;
    }
    std::uint64_t end = ~std::uint64_t{0};
    switch (options >> 3 & 3) {
    case 1: end = lastEnd; break;
    case 2: end = lastEnd > 40 ? lastEnd - 40 : 0; break;
    case 3: space.range.end = lastEnd > kLowest + 40 ? lastEnd - 40 : kLowest + 1; break;
    }
    const bool executableOnly = (options & 1) != 0;
    space.rangesPerRead = (options & 0x20) != 0 ? 256 : 1;

    // The plain search first: the scan's reads use up the regions' partial copies.
    const std::optional<std::uint64_t> expected = PlainSearch(space, pattern, start, end, executableOnly);
    std::uint64_t match = 0;
    const bool found = ScanForPattern(space, pattern, start, end, executableOnly, match);
    Check(found == expected.has_value(), found ? "the scan found a match the plain search does not"
                                               : "the scan missed a match");
    if (found) Check(match == *expected, "the scan found another address than the lowest");
    return 0;
}
