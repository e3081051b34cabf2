#include "tools/probe/candidate_scan.h"

#include <algorithm>

#include "target/memory_walk.h"

namespace {

constexpr std::uint64_t kPageSize = 4096;

// The candidates that fall in one page, read as one range from the first
// of them to the end of the last.
struct PageGroup {
    std::size_t first = 0;
    std::size_t count = 0;
};

}  // namespace

FirstScan ScanForValue(TargetProcess& target, const SearchValue& value, std::size_t maxKept, CandidateSet& set) {
    FirstScan scan;
    set = CandidateSet{};
    set.pid = target.Pid();
    set.type = value.type;
    set.valueSize = ValueSize(value);
    std::vector<std::size_t> found;
    const std::size_t overlap = IsText(value.type) ? set.valueSize - 1 : 0;
    scan.listed = ForEachMemoryChunk(target, RegionKind::Writable, kValueScanChunk, overlap, [&](const MemoryChunk& chunk) {
        found.clear();
        // Windows that end in the repeated bytes were searched with the chunk before.
        const std::size_t from = chunk.repeated >= overlap ? chunk.repeated - overlap : 0;
        FindValue(value, chunk.address, chunk.bytes, chunk.size, from, found);
        scan.bytesRead += chunk.size - chunk.repeated;
        for (std::size_t offset : found) {
            if (++scan.count > maxKept) continue;
            set.addresses.push_back(chunk.address + offset);
            set.values.insert(set.values.end(), chunk.bytes + offset, chunk.bytes + offset + set.valueSize);
        }
        return true;
    });
    return scan;
}

Rescan RescanCandidates(TargetProcess& target, const CandidateSet& set, const RescanTest& test) {
    std::vector<PageGroup> groups;
    std::vector<TargetRange> ranges;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < set.Count(); ++i) {
        const std::uint64_t address = set.addresses[i];
        if (ranges.empty() || address / kPageSize != ranges.back().address / kPageSize) {
            groups.push_back(PageGroup{i, 0});
            ranges.push_back(TargetRange{address, 0, nullptr, false});
        }
        groups.back().count++;
        const std::uint64_t size = address + set.valueSize - ranges.back().address;
        total += size - std::min(size, ranges.back().size);
        ranges.back().size = std::max(size, ranges.back().size);
    }
    std::vector<std::uint8_t> pages(static_cast<std::size_t>(total));
    std::uint64_t placed = 0;
    for (TargetRange& range : ranges) {
        range.buffer = pages.data() + placed;
        placed += range.size;
    }
    ReadTargetRanges(target, ranges);

    Rescan rescan;
    rescan.kept.pid = set.pid;
    rescan.kept.type = set.type;
    rescan.kept.valueSize = set.valueSize;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (!ranges[g].read) {
            rescan.gone += groups[g].count;
            continue;
        }
        for (std::size_t i = groups[g].first; i < groups[g].first + groups[g].count; ++i) {
            const std::uint8_t* now = ranges[g].buffer + (set.addresses[i] - ranges[g].address);
            const bool keep = test.change ? HasChanged(set.type, *test.change, set.Value(i), now, set.valueSize)
                                          : HoldsValue(test.value, now);
            if (!keep) continue;
            rescan.kept.addresses.push_back(set.addresses[i]);
            rescan.kept.values.insert(rescan.kept.values.end(), now, now + set.valueSize);
            rescan.before.insert(rescan.before.end(), set.Value(i), set.Value(i) + set.valueSize);
        }
    }
    return rescan;
}
