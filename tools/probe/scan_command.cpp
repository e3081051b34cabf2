// `scan PID TYPE VALUE [--save FILE]` and `rescan FILE (VALUE | changed |
// unchanged | increased | decreased)`: finding a game's variable by the
// number it shows. The scan reads all the target's writable memory once and
// keeps every place that holds the value; each rescan reads only the pages
// of the places kept and keeps those that now hold the value, or that have
// changed as asked since the last look.

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "target/memory_walk.h"
#include "tools/probe/candidate_file.h"
#include "tools/probe/command_support.h"
#include "tools/probe/module_map.h"
#include "tools/probe/probe_arguments.h"
#include "tools/probe/probe_commands.h"
#include "tools/probe/value_search.h"

namespace {

// Chunks small enough to stay in the processor's cache between their read
// and their search.
constexpr std::size_t kScanChunk = 256u << 10;
// The matches printed; the count and the file hold all of them.
constexpr std::size_t kShownMatches = 20;
// The most candidates a file keeps (at 16 bytes each in memory): a value
// that occurs more often is too common to narrow down from.
constexpr std::size_t kMaxKeptCandidates = 16u << 20;
constexpr std::uint64_t kPageSize = 4096;

void PrintCandidate(const CandidateSet& set, std::size_t i, const ModuleMap& modules, const std::string& before) {
    const std::string where = modules.Describe(set.addresses[i]);
    std::printf("%s%s%s  %s%s\n", HexAddress(set.addresses[i]).c_str(), where.empty() ? "" : "  ", where.c_str(),
                DescribeValue(set.type, set.Value(i), set.valueSize).c_str(), before.c_str());
}

std::string MatchCount(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " match" : " matches");
}

// Writes the set to `path` when one is given; false after saying why not.
bool SaveIfAsked(const std::string& path, const CandidateSet& set) {
    if (path.empty()) return true;
    std::string error;
    if (!SaveCandidates(path, set, error)) {
        std::fprintf(stderr, "corvane-probe: %s\n", error.c_str());
        return false;
    }
    std::printf("%zu %s kept in %s\n", set.Count(), set.Count() == 1 ? "candidate" : "candidates", path.c_str());
    return true;
}

}  // namespace

int ScanCommand(const std::vector<std::string>& arguments) {
    CommandArguments split;
    std::string error;
    if (!SplitArguments(arguments, {"--save"}, {}, split, error)) return UsageError("scan", error);
    if (split.positional.size() != 3) return UsageError("scan", "scan takes a process id, a type and a value");
    const std::optional<ValueType> type = ParseValueType(split.positional[1]);
    if (!type) return UsageError("scan", "not a type: " + split.positional[1] + " (one of " + ValueTypeNames() + ")");
    SearchValue value;
    if (!ParseSearchValue(*type, split.positional[2], value, error)) return UsageError("scan", error);
    const auto save = split.values.find("--save");
    const std::string savePath = save == split.values.end() ? "" : save->second;
    int exitCode = kExitDone;
    std::unique_ptr<TargetProcess> target = OpenTargetArgument("scan", split.positional[0], exitCode);
    if (!target) return exitCode;

    std::printf("scan of process %" PRIu32 " for %s %s", target->Pid(), ValueTypeName(*type), split.positional[2].c_str());
    if (value.tolerance > 0) std::printf(" (any value within %g of it)", value.tolerance);
    std::printf(" in writable memory\n");
    CandidateSet set;
    set.pid = target->Pid();
    set.type = *type;
    set.valueSize = ValueSize(value);
    std::uint64_t count = 0;
    std::uint64_t bytesRead = 0;
    std::vector<std::size_t> found;
    const std::size_t overlap = IsText(*type) ? set.valueSize - 1 : 0;
    const bool walked = ForEachMemoryChunk(*target, RegionKind::Writable, kScanChunk, overlap, [&](const MemoryChunk& chunk) {
        found.clear();
        // Windows that end in the repeated bytes were searched with the chunk before.
        const std::size_t from = chunk.repeated >= overlap ? chunk.repeated - overlap : 0;
        FindValue(value, chunk.address, chunk.bytes, chunk.size, from, found);
        bytesRead += chunk.size - chunk.repeated;
        for (std::size_t offset : found) {
            if (++count > kMaxKeptCandidates) continue;
            set.addresses.push_back(chunk.address + offset);
            set.values.insert(set.values.end(), chunk.bytes + offset, chunk.bytes + offset + set.valueSize);
        }
        return true;
    });
    if (!walked) {
        std::fprintf(stderr, "corvane-probe: the memory of process %" PRIu32 " cannot be listed\n", target->Pid());
        return kExitFailed;
    }
    std::printf("%s in %.1f MiB read\n", MatchCount(count).c_str(), static_cast<double>(bytesRead) / (1 << 20));
    const ModuleMap modules(*target);
    for (std::size_t i = 0; i < set.Count() && i < kShownMatches; ++i) PrintCandidate(set, i, modules, "");
    if (count > kShownMatches) std::printf("(the first %zu shown)\n", kShownMatches);
    if (count > kMaxKeptCandidates) {
        std::printf("more than %zu matches: too many to keep; scan for a rarer value\n", kMaxKeptCandidates);
        return kExitFailed;
    }
    if (!SaveIfAsked(savePath, set)) return kExitFailed;
    return count == 0 ? kExitFailed : kExitDone;
}

namespace {

// The candidates that fall in one page, read as one range from the first
// of them to the end of the last.
struct PageGroup {
    std::size_t first = 0;
    std::size_t count = 0;
};

// Reads the candidates' current values, page by page: true for each one
// whose bytes arrived, with the bytes in `now` (valueSize bytes each).
std::vector<bool> ReadCandidates(TargetProcess& target, const CandidateSet& set, std::vector<std::uint8_t>& now) {
    std::vector<PageGroup> groups;
    std::vector<TargetRange> ranges;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < set.Count(); ++i) {
        const std::uint64_t address = set.addresses[i];
        const std::uint64_t end = address + set.valueSize;
        if (ranges.empty() || address / kPageSize != ranges.back().address / kPageSize) {
            groups.push_back(PageGroup{i, 0});
            ranges.push_back(TargetRange{address, 0, nullptr, false});
        }
        groups.back().count++;
        const std::uint64_t size = end - ranges.back().address;
        if (size > ranges.back().size) {
            total += size - ranges.back().size;
            ranges.back().size = size;
        }
    }
    std::vector<std::uint8_t> pages(static_cast<std::size_t>(total));
    std::uint64_t placed = 0;
    for (TargetRange& range : ranges) {
        range.buffer = pages.data() + placed;
        placed += range.size;
    }
    ReadTargetRanges(target, ranges);
    std::vector<bool> arrived(set.Count(), false);
    now.assign(set.values.size(), 0);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (!ranges[g].read) continue;
        for (std::size_t i = groups[g].first; i < groups[g].first + groups[g].count; ++i) {
            const std::uint8_t* bytes = ranges[g].buffer + (set.addresses[i] - ranges[g].address);
            std::copy(bytes, bytes + set.valueSize, now.begin() + static_cast<std::ptrdiff_t>(i * set.valueSize));
            arrived[i] = true;
        }
    }
    return arrived;
}

}  // namespace

int RescanCommand(const std::vector<std::string>& arguments) {
    CommandArguments split;
    std::string error;
    if (!SplitArguments(arguments, {}, {}, split, error)) return UsageError("rescan", error);
    if (split.positional.size() != 2) {
        return UsageError("rescan", "rescan takes a candidate file and a value or a change");
    }
    const std::string& path = split.positional[0];
    const std::string& criterion = split.positional[1];
    CandidateSet set;
    if (!LoadCandidates(path, set, error)) {
        std::fprintf(stderr, "corvane-probe: %s\n", error.c_str());
        return kExitFailed;
    }
    const std::optional<Change> change = ParseChange(criterion);
    SearchValue value;
    if (change) {
        if (IsText(set.type) && (*change == Change::Increased || *change == Change::Decreased)) {
            return UsageError("rescan", "text neither increases nor decreases: rescan it for changed or unchanged");
        }
    } else if (!ParseSearchValue(set.type, criterion, value, error)) {
        return UsageError("rescan", error);
    } else if (ValueSize(value) != set.valueSize) {
        return UsageError("rescan", "the text has another length than the one scanned for");
    }
    int exitCode = kExitDone;
    std::unique_ptr<TargetProcess> target = OpenTargetArgument("rescan", std::to_string(set.pid), exitCode);
    if (!target) return exitCode;

    std::printf("rescan of process %" PRIu32 " for %s %s, %zu %s\n", set.pid, ValueTypeName(set.type), criterion.c_str(),
                set.Count(), set.Count() == 1 ? "candidate" : "candidates");
    std::vector<std::uint8_t> now;
    const std::vector<bool> arrived = ReadCandidates(*target, set, now);
    CandidateSet kept;
    kept.pid = set.pid;
    kept.type = set.type;
    kept.valueSize = set.valueSize;
    std::vector<std::string> before;  // of the kept ones shown
    std::size_t gone = 0;
    for (std::size_t i = 0; i < set.Count(); ++i) {
        if (!arrived[i]) {
            ++gone;
            continue;
        }
        const std::uint8_t* current = now.data() + i * set.valueSize;
        const bool keep = change ? HasChanged(set.type, *change, set.Value(i), current, set.valueSize)
                                 : HoldsValue(value, current);
        if (!keep) continue;
        if (kept.Count() < kShownMatches) before.push_back(DescribeValue(set.type, set.Value(i), set.valueSize));
        kept.addresses.push_back(set.addresses[i]);
        kept.values.insert(kept.values.end(), current, current + set.valueSize);
    }
    std::printf("%s left", MatchCount(kept.Count()).c_str());
    if (gone != 0) std::printf(" (%zu no longer readable)", gone);
    std::printf("\n");
    const ModuleMap modules(*target);
    for (std::size_t i = 0; i < before.size(); ++i) PrintCandidate(kept, i, modules, " (was " + before[i] + ")");
    if (kept.Count() > kShownMatches) std::printf("(the first %zu shown)\n", kShownMatches);
    if (!SaveIfAsked(path, kept)) return kExitFailed;
    return kept.Count() == 0 ? kExitFailed : kExitDone;
}
