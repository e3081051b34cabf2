// `processes [TEXT]`: every process, or those whose executable name holds
// TEXT (in any letter case), with its id, bitness and name, and whether the
// probe may read it; if not, why, and what to do about it.

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "target/process_list.h"
#include "tools/probe/command_support.h"
#include "tools/probe/probe_arguments.h"
#include "tools/probe/probe_commands.h"

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const char* BitsColumn(Bitness bitness) {
    switch (bitness) {
    case Bitness::Bits32: return "32-bit";
    case Bitness::Bits64: return "64-bit";
    default: return "?";
    }
}

}  // namespace

int ProcessesCommand(const std::vector<std::string>& arguments) {
    CommandArguments split;
    std::string error;
    if (!SplitArguments(arguments, {}, {}, split, error)) return UsageError("processes", error);
    if (split.positional.size() > 1) return UsageError("processes", "processes takes at most one text");
    const std::string text = split.positional.empty() ? "" : Lower(split.positional[0]);

    std::printf("%-10s %-7s %-24s %s\n", "pid", "bits", "name", "readable");
    std::uint64_t count = 0;
    const bool listed = ListProcesses([&](const ProcessInfo& process) {
        if (Lower(process.name).find(text) == std::string::npos) return;
        std::printf("%-10" PRIu32 " %-7s %-24s %s%s\n", process.pid, BitsColumn(process.bitness),
                    process.name.c_str(), process.access.readable ? "yes" : "no: ",
                    process.access.cause.c_str());
        if (!process.access.readable) std::printf("%-10s remedy: %s\n", "", process.access.remedy.c_str());
        ++count;
    });
    if (!listed) {
        std::fprintf(stderr, "corvane-probe: the processes cannot be listed\n");
        return kExitFailed;
    }
    std::printf("%" PRIu64 " %s\n", count, count == 1 ? "process" : "processes");
    return count == 0 ? kExitFailed : kExitDone;
}
