#pragma once
// An address space in the terms of a Windows memory query, for what a real
// process cannot be made to do on demand: partial copies, short reads,
// failed queries, execute-write-copy regions; reading one range per call, as
// Windows does, or many, as Linux does. Gaps between regions are free
// memory; queries above the application range fail.

#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

#include "target/address_space.h"
#include "target/region_class.h"

using namespace detail::win_memory;

struct FakeRegion {
    std::uint64_t base = 0;
    std::uint32_t state = kMemCommit;
    std::uint32_t protect = kPageReadWrite;
    std::vector<std::uint8_t> bytes;    // the region's size is their count
    int partialCopies = 0;              // so many reads end in a partial copy first
    std::uint64_t partialCopyFrom = 0;  // ... among the reads at base + this or above
    bool shortRead = false;             // reads succeed with one byte missing
    bool readFails = false;             // reads fail without a partial copy
    bool queryFails = false;            // queries of addresses in this region fail
};

// What one read of `size` bytes at `address` gives, before any byte is
// copied, in `region` (null when no region holds the address) whose content
// is `regionSize` bytes: the region's faults first, then the count of bytes
// to copy (one short when its reads fall short). Uses up a partial copy
// unless told not to.
inline detail::ReadResult FakeReadOutcome(FakeRegion* region, std::uint64_t regionSize, std::uint64_t address,
                                          std::uint64_t size, bool usesUpPartialCopy = true) {
    detail::ReadResult result;
    if (region == nullptr || size > region->base + regionSize - address) {
        result.status = detail::ReadStatus::PartialCopy;
    } else if (region->partialCopies > 0 && address >= region->base + region->partialCopyFrom) {
        if (usesUpPartialCopy) --region->partialCopies;
        result.status = detail::ReadStatus::PartialCopy;
    } else if (!region->readFails) {
        result.status = detail::ReadStatus::Copied;
        result.bytesRead = region->shortRead ? size - 1 : size;
    }
    return result;
}

// Whether one read alone would copy the range whole; uses up no partial copy.
inline bool FakeReadsWhole(FakeRegion* region, std::uint64_t regionSize, std::uint64_t address, std::uint64_t size) {
    const detail::ReadResult result = FakeReadOutcome(region, regionSize, address, size, false);
    return result.status == detail::ReadStatus::Copied && result.bytesRead == size;
}

// ReadRanges over a fake `space` that reads many ranges per call: the ranges
// in order with the space's own Read, up to the first that a read alone
// would not copy whole (`space.ReadsWhole`). That one's partial copies are
// not used up: the scan reads it again on its own, and that read uses them.
template <typename Space>
std::size_t FakeReadRanges(Space& space, const detail::ReadRange* ranges, std::size_t count) {
    ++space.rangeReads;
    for (std::size_t i = 0; i < count; ++i) {
        if (!space.ReadsWhole(ranges[i].address, ranges[i].size)) return i;
        space.Read(ranges[i].address, ranges[i].buffer, ranges[i].size);
    }
    return count;
}

class FakeAddressSpace final : public detail::AddressSpace {
public:
    FakeRegion& Add(std::uint64_t base, std::uint64_t size, std::uint32_t protect = kPageReadWrite,
                    std::uint32_t state = kMemCommit) {
        FakeRegion& region = regions_[base];
        region.base = base;
        region.protect = protect;
        region.state = state;
        region.bytes.assign(static_cast<std::size_t>(size), 0);
        return region;
    }

    void Put(std::uint64_t address, const std::vector<std::uint8_t>& bytes) {
        FakeRegion* region = Holding(address);
        std::memcpy(region->bytes.data() + (address - region->base), bytes.data(), bytes.size());
    }

    void BeginSearch() override {
        ++searches;
        searching = true;
    }

    void EndSearch() override { searching = false; }

    bool QueryRegion(std::uint64_t address, detail::MemoryRegion& out) override {
        ++queries;
        if (!searching) ++queriesOutsideSearch;
        if (address >= range.end) return false;
        if (const FakeRegion* region = Holding(address)) {
            if (region->queryFails) return false;
            out.base = region->base;
            out.size = region->bytes.size();
            detail::ClassifyWindowsRegion(region->state, region->protect, out);
            return true;
        }
        auto next = regions_.upper_bound(address);
        const std::uint64_t gapEnd = next == regions_.end() ? range.end : next->first;
        std::uint64_t gapBase = 0;
        if (next != regions_.begin()) {
            const FakeRegion& before = std::prev(next)->second;
            gapBase = before.base + before.bytes.size();
        }
        out.base = gapBase;
        out.size = gapEnd - gapBase;
        detail::ClassifyWindowsRegion(kMemFree, kPageNoAccess, out);
        return true;
    }

    detail::ReadResult Read(std::uint64_t address, void* buffer, std::uint64_t size) override {
        reads.push_back({address, size});
        if ((reinterpret_cast<std::uintptr_t>(buffer) - address) % 64 != 0) ++readsOutOfLine;
        FakeRegion* region = Holding(address);
        const detail::ReadResult result = FakeReadOutcome(region, region != nullptr ? region->bytes.size() : 0, address, size);
        if (result.status == detail::ReadStatus::Copied) {
            std::memcpy(buffer, region->bytes.data() + (address - region->base),
                        static_cast<std::size_t>(result.bytesRead));
        }
        return result;
    }

    std::size_t RangesPerRead() const override { return rangesPerRead; }
    std::size_t ReadRanges(const detail::ReadRange* ranges, std::size_t count) override {
        return FakeReadRanges(*this, ranges, count);
    }
    bool ReadsWhole(std::uint64_t address, std::uint64_t size) {
        FakeRegion* region = Holding(address);
        return FakeReadsWhole(region, region != nullptr ? region->bytes.size() : 0, address, size);
    }

    detail::AddressRange ApplicationRange() override { return range; }

    // Whether any read touched [base, base + size).
    bool ReadAnyOf(std::uint64_t base, std::uint64_t size) const {
        for (const auto& read : reads) {
            if (read.first < base + size && base < read.first + read.second) return true;
        }
        return false;
    }

    detail::AddressRange range{0x10000, 0x7FFFFFFF0000};
    int queries = 0;
    int queriesOutsideSearch = 0;
    int searches = 0;        // BeginSearch calls
    std::size_t rangesPerRead = 1;  // more: small regions are read many per call
    int rangeReads = 0;             // ReadRanges calls
    int readsOutOfLine = 0;         // reads whose bytes land at another place within a 64-byte line
    bool searching = false;  // between BeginSearch and EndSearch
    std::vector<std::pair<std::uint64_t, std::uint64_t>> reads;  // address, size

private:
    FakeRegion* Holding(std::uint64_t address) {
        auto next = regions_.upper_bound(address);
        if (next == regions_.begin()) return nullptr;
        FakeRegion& region = std::prev(next)->second;
        return address < region.base + region.bytes.size() ? &region : nullptr;
    }

    std::map<std::uint64_t, FakeRegion> regions_;
};
