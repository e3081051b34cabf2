// `find PID PATTERN [--data] [--all] [--start ADDRESS] [--end ADDRESS]`: the
// search a script's Find makes, with its pattern syntax and its defaults
// (code regions only, the whole address range). Shows the address Find
// would return or, with --all, every match and their count, each also as
// module plus offset: how an author checks that a signature is unique.

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>

#include "script/script_memory.h"
#include "target/target_listing.h"
#include "tools/probe/command_support.h"
#include "tools/probe/module_map.h"
#include "tools/probe/probe_arguments.h"
#include "tools/probe/probe_commands.h"

namespace {

// A search that matches everywhere (an empty or all-wildcard pattern) would
// list every byte of the target; the listing stops here.
constexpr std::uint64_t kMaxListedMatches = 1000;

// The bytes as Find reads the text: "48 8b .. 05". Shows at once what blanks
// or "??" in a pattern turned into.
std::string DescribePattern(const BytePattern& pattern) {
    std::string text;
    for (std::size_t i = 0; i < pattern.bytes.size(); ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x", pattern.bytes[i]);
        if (!text.empty()) text += ' ';
        text += pattern.mask[i] != 0 ? pair : "..";
    }
    return text.empty() ? "(empty)" : text;
}

void PrintMatch(std::uint64_t address, const ModuleMap& modules) {
    const std::string where = modules.Describe(address);
    std::printf("%s%s%s\n", HexAddress(address).c_str(), where.empty() ? "" : "  ", where.c_str());
}

std::optional<std::uint64_t> AddressOption(const CommandArguments& split, const char* option,
                                           std::uint64_t fallback, std::string& error) {
    const auto given = split.values.find(option);
    if (given == split.values.end()) return fallback;
    std::optional<std::uint64_t> address = ParseAddress(given->second);
    if (!address) error = std::string("not an address for ") + option + ": " + given->second;
    return address;
}

}  // namespace

int FindCommand(const std::vector<std::string>& arguments) {
    CommandArguments split;
    std::string error;
    if (!SplitArguments(arguments, {"--start", "--end"}, {"--data", "--all"}, split, error)) {
        return UsageError("find", error);
    }
    if (split.positional.size() != 2) return UsageError("find", "find takes a process id and a pattern");
    // Find's own defaults: from 0 to the top of the address space.
    const std::optional<std::uint64_t> start = AddressOption(split, "--start", 0, error);
    const std::optional<std::uint64_t> end = AddressOption(split, "--end", UINT64_MAX, error);
    if (!start || !end) return UsageError("find", error);
    if (*start > *end) return UsageError("find", "--start lies above --end");
    const std::optional<BytePattern> pattern = ParsePattern(split.positional[1].c_str());
    if (!pattern) {
        return UsageError("find", "a pattern has two characters per byte and no blanks; this one has an odd "
                                  "length, so Find returns nil");
    }
    const bool executableOnly = split.flags.count("--data") == 0;
    const bool all = split.flags.count("--all") != 0;
    int exitCode = kExitDone;
    ProcessInfo info;
    std::unique_ptr<TargetProcess> target = OpenTargetArgument("find", split.positional[0], info, exitCode);
    if (!target) return exitCode;
    std::printf("%s\n", TargetLine(info).c_str());

    std::printf("pattern %s (%llu bytes) in %s from %s to %s\n", DescribePattern(*pattern).c_str(),
                static_cast<unsigned long long>(pattern->bytes.size()), executableOnly ? "code regions" : "every readable region",
                HexAddress(*start).c_str(), HexAddress(*end).c_str());
    const ModuleMap modules(*target);
    std::uint64_t count = 0;
    bool more = false;  // a match beyond the listed ones exists
    ForEachPatternMatch(*target, *pattern, *start, *end, executableOnly, [&](std::uint64_t address) {
        if (count == kMaxListedMatches) {
            more = true;
            return false;
        }
        PrintMatch(address, modules);
        ++count;
        return all;
    });
    if (count == 0) {
        std::printf("no match: Find returns nil\n");
        return kExitFailed;
    }
    if (all) {
        if (more) {
            std::printf("more than %" PRIu64 " matches; the listing stopped there\n", count);
        } else {
            std::printf("%" PRIu64 " %s%s\n", count, count == 1 ? "match" : "matches",
                        count == 1 ? ": the pattern is unique" : ": Find returns the first");
        }
    }
    return kExitDone;
}
