// The copy of a Linux process's memory map of memory_map.h.
#include "target/memory_map.h"

#include <algorithm>
#include <iterator>

#include "target/region_class.h"

namespace detail {
namespace {

// The first mapping whose end lies above `address`.
template <typename Iterator>
Iterator FirstEndingAbove(Iterator begin, Iterator end, std::uint64_t address) {
    return std::upper_bound(begin, end, address,
                            [](std::uint64_t a, const MemoryRegion& m) { return a < m.base + m.size; });
}

}  // namespace

bool RegionAround(std::uint64_t address, std::uint64_t previousEnd, const MemoryRegion* next,
                  std::uint64_t spaceEnd, MemoryRegion& region) {
    if (next != nullptr && next->base <= address) {
        region = *next;
        return true;
    }
    const std::uint64_t gapEnd = next != nullptr ? next->base : spaceEnd;
    if (address >= gapEnd) return false;
    region = MemoryRegion{};
    region.base = previousEnd;
    region.size = gapEnd - previousEnd;
    return true;
}

void MemoryMap::Add(const MapsLine& line) {
    if (!mappings_.empty() && line.start < mappings_.back().base + mappings_.back().size) return;
    MemoryRegion mapping;
    mapping.base = line.start;
    mapping.size = line.end - line.start;
    ClassifyMapsRegion(line, mapping);
    if (IsMarked(mapping.base, mapping.size)) mapping.readable = mapping.executable = mapping.writable = false;
    mappings_.push_back(mapping);
}

void MemoryMap::MarkLastUnreadable() {
    if (mappings_.empty()) return;
    Remember(mappings_.back());
    mappings_.back().readable = mappings_.back().executable = mappings_.back().writable = false;
}

void MemoryMap::MarkUnreadable(const MemoryRegion& mapping) {
    Remember(mapping);
    const auto at = FirstEndingAbove(mappings_.begin(), mappings_.end(), mapping.base);
    if (at != mappings_.end() && at->base == mapping.base && at->size == mapping.size) {
        at->readable = at->executable = at->writable = false;
    }
}

bool MemoryMap::Query(std::uint64_t address, MemoryRegion& region) const {
    const auto next = FirstEndingAbove(mappings_.begin(), mappings_.end(), address);
    const std::uint64_t previousEnd = next == mappings_.begin() ? 0 : std::prev(next)->base + std::prev(next)->size;
    return RegionAround(address, previousEnd, next == mappings_.end() ? nullptr : &*next, spaceEnd_, region);
}

bool MemoryMap::MappingAt(std::uint64_t address, MemoryRegion& mapping) const {
    const auto at = FirstEndingAbove(mappings_.begin(), mappings_.end(), address);
    if (at == mappings_.end() || at->base > address) return false;
    mapping = *at;
    return true;
}

void MemoryMap::Remember(const MemoryRegion& mapping) {
    const std::pair<std::uint64_t, std::uint64_t> key{mapping.base, mapping.size};
    const auto at = std::lower_bound(unreadable_.begin(), unreadable_.end(), key);
    if (at == unreadable_.end() || *at != key) unreadable_.insert(at, key);
}

bool MemoryMap::IsMarked(std::uint64_t base, std::uint64_t size) const {
    return std::binary_search(unreadable_.begin(), unreadable_.end(), std::make_pair(base, size));
}

}  // namespace detail
