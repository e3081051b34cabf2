#pragma once
// A copy of a Linux process's memory map, taken once per search, that answers
// region queries the way the Windows memory query does: the mapping that
// holds an address, or the unreadable gap around it. Mappings found during a
// search to fail every read stay unreadable in the copies taken after. Kept
// apart from the Linux backend, which reads the map's files, so its rules
// are tested natively.

#include <cstdint>
#include <utility>
#include <vector>

#include "target/address_space.h"
#include "target/maps_line.h"

namespace detail {

// The region at `address` given the end of the mapping before it (0 if none)
// and the first mapping that ends above it (null if none): that mapping when
// it holds the address, otherwise the unreadable gap up to the next mapping
// or up to `spaceEnd`. False at or above `spaceEnd` when no mapping follows.
bool RegionAround(std::uint64_t address, std::uint64_t previousEnd, const MemoryRegion* next,
                  std::uint64_t spaceEnd, MemoryRegion& region);

class MemoryMap {
public:
    explicit MemoryMap(std::uint64_t spaceEnd) : spaceEnd_(spaceEnd) {}

    // Begins a new copy. Mappings marked unreadable stay marked.
    void Clear() { mappings_.clear(); }

    // Appends the next line of the map. A line that does not lie above the
    // mappings before it is ignored, so the copy stays in ascending order.
    // May throw std::bad_alloc.
    void Add(const MapsLine& line);

    // Marks the last mapping added, or `mapping`, as one that no read
    // reaches, in this copy and in the copies taken after it. May throw
    // std::bad_alloc.
    void MarkLastUnreadable();
    void MarkUnreadable(const MemoryRegion& mapping);

    // Forgets every unreadable mark (a new search finds them afresh).
    void ForgetUnreadable() { unreadable_.clear(); }

    // As RegionAround over the copy.
    bool Query(std::uint64_t address, MemoryRegion& region) const;

    // True with the mapping (not a gap) that holds `address`.
    bool MappingAt(std::uint64_t address, MemoryRegion& mapping) const;

private:
    void Remember(const MemoryRegion& mapping);
    bool IsMarked(std::uint64_t base, std::uint64_t size) const;

    std::uint64_t spaceEnd_;
    std::vector<MemoryRegion> mappings_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unreadable_;  // base and size, in ascending order
};

}  // namespace detail
