#include "tools/probe/command_support.h"

#include <cinttypes>
#include <cstdio>

#include "tools/probe/probe_arguments.h"
#include "tools/probe/probe_commands.h"

int UsageError(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "corvane-probe: %s\n%s", message.c_str(), CommandUsage(command));
    return kExitUsage;
}

std::unique_ptr<TargetProcess> OpenTargetArgument(const std::string& command, const std::string& pidText,
                                                  ProcessInfo& info, int& exitCode) {
    const std::optional<std::uint32_t> pid = ParseProcessId(pidText);
    if (!pid) {
        exitCode = UsageError(command, "not a process id: " + pidText);
        return nullptr;
    }
    const bool listed = DescribeProcess(*pid, info);
    std::unique_ptr<TargetProcess> target = OpenTarget(*pid);
    if (target) {
        if (!listed) info.pid = *pid;
        return target;
    }
    exitCode = kExitNoTarget;
    if (!listed) {
        std::fprintf(stderr, "corvane-probe: cannot open process %" PRIu32 ": there is no such process\n", *pid);
    } else if (info.access.readable) {
        // Allowed a moment ago: it has ended, or its rights changed since.
        std::fprintf(stderr, "corvane-probe: cannot open process %" PRIu32 " for reading: it has just ended\n", *pid);
    } else {
        std::fprintf(stderr, "corvane-probe: cannot open process %" PRIu32 " (%s) for reading: %s\n", *pid,
                     info.name.c_str(), info.access.cause.c_str());
        std::fprintf(stderr, "remedy: %s\n", info.access.remedy.c_str());
    }
    return nullptr;
}

std::string TargetLine(const ProcessInfo& info) {
    return "process " + std::to_string(info.pid) + " " + (info.name.empty() ? "(no name)" : info.name) + ", " +
           BitnessText(info.bitness);
}

std::string HexAddress(std::uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIx64, address);
    return text;
}
