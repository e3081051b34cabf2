#pragma once
// An address space in the terms of a Windows memory query, for what a real
// process cannot be made to do on demand: partial copies, short reads,
// failed queries, execute-write-copy regions. Gaps between regions are free
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
// to copy (one short when its reads fall short). Uses up a partial copy.
inline detail::ReadResult FakeReadOutcome(FakeRegion* region, std::uint64_t regionSize, std::uint64_t address,
                                  std::uint64_t size) {
    detail::ReadResult result;
    if (region == nullptr || size > region->base + regionSize - address) {
        result.status = detail::ReadStatus::PartialCopy;
    } else if (region->partialCopies > 0 && address >= region->base + region->partialCopyFrom) {
        --region->partialCopies;
        result.status = detail::ReadStatus::PartialCopy;
    } else if (!region->readFails) {
        result.status = detail::ReadStatus::Copied;
        result.bytesRead = region->shortRead ? size - 1 : size;
    }
    return result;
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
        FakeRegion* region = Holding(address);
        const detail::ReadResult result = FakeReadOutcome(region, region != nullptr ? region->bytes.size() : 0, address, size);
        if (result.status == detail::ReadStatus::Copied) {
            std::memcpy(buffer, region->bytes.data() + (address - region->base),
                        static_cast<std::size_t>(result.bytesRead));
        }
        return result;
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
