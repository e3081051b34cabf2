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

#include "tools/probe/candidate_file.h"
#include "tools/probe/candidate_scan.h"
#include "tools/probe/command_support.h"
#include "tools/probe/module_map.h"
#include "tools/probe/probe_arguments.h"
#include "tools/probe/probe_commands.h"
#include "tools/probe/value_search.h"

namespace {

// The matches printed; the count and the file hold all of them.
constexpr std::size_t kShownMatches = 20;
// The most candidates a file keeps (at 16 bytes each in memory): a value
// that occurs more often is too common to narrow down from.
constexpr std::size_t kMaxKeptCandidates = 16u << 20;

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
    ProcessInfo info;
    std::unique_ptr<TargetProcess> target = OpenTargetArgument("scan", split.positional[0], info, exitCode);
    if (!target) return exitCode;
    std::printf("%s\n", TargetLine(info).c_str());

    std::printf("scan of process %" PRIu32 " for %s %s", target->Pid(), ValueTypeName(*type), split.positional[2].c_str());
    if (value.tolerance > 0) std::printf(" (any value within %g of it)", value.tolerance);
    std::printf(" in writable memory\n");
    CandidateSet set;
    const FirstScan scan = ScanForValue(*target, value, kMaxKeptCandidates, set);
    if (!scan.listed) {
        std::fprintf(stderr, "corvane-probe: the memory of process %" PRIu32 " cannot be listed\n", target->Pid());
        return kExitFailed;
    }
    const std::uint64_t count = scan.count;
    const std::uint64_t bytesRead = scan.bytesRead;
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
    RescanTest test;
    test.change = ParseChange(criterion);
    if (test.change) {
        if (IsText(set.type) && (*test.change == Change::Increased || *test.change == Change::Decreased)) {
            return UsageError("rescan", "text neither increases nor decreases: rescan it for changed or unchanged");
        }
    } else if (!ParseSearchValue(set.type, criterion, test.value, error)) {
        return UsageError("rescan", error);
    } else if (ValueSize(test.value) != set.valueSize) {
        return UsageError("rescan", "the text has another length than the one scanned for");
    }
    int exitCode = kExitDone;
    ProcessInfo info;
    std::unique_ptr<TargetProcess> target = OpenTargetArgument("rescan", std::to_string(set.pid), info, exitCode);
    if (!target) return exitCode;
    std::printf("%s\n", TargetLine(info).c_str());

    std::printf("rescan of process %" PRIu32 " for %s %s, %zu %s\n", set.pid, ValueTypeName(set.type), criterion.c_str(),
                set.Count(), set.Count() == 1 ? "candidate" : "candidates");
    const Rescan rescan = RescanCandidates(*target, set, test);
    const CandidateSet& kept = rescan.kept;
    std::printf("%s left", MatchCount(kept.Count()).c_str());
    if (rescan.gone != 0) std::printf(" (%zu no longer readable)", rescan.gone);
    std::printf("\n");
    const ModuleMap modules(*target);
    for (std::size_t i = 0; i < kept.Count() && i < kShownMatches; ++i) {
        const std::uint8_t* before = rescan.before.data() + i * kept.valueSize;
        PrintCandidate(kept, i, modules, " (was " + DescribeValue(kept.type, before, kept.valueSize) + ")");
    }
    if (kept.Count() > kShownMatches) std::printf("(the first %zu shown)\n", kShownMatches);
    if (!SaveIfAsked(path, kept)) return kExitFailed;
    return kept.Count() == 0 ? kExitFailed : kExitDone;
}
