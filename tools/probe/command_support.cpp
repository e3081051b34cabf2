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
                                                  int& exitCode) {
    const std::optional<std::uint32_t> pid = ParseProcessId(pidText);
    if (!pid) {
        exitCode = UsageError(command, "not a process id: " + pidText);
        return nullptr;
    }
    std::unique_ptr<TargetProcess> target = OpenTarget(*pid);
    if (!target) {
        std::fprintf(stderr, "corvane-probe: cannot open process %" PRIu32 " for reading\n", *pid);
        exitCode = kExitNoTarget;
    }
    return target;
}

std::string HexAddress(std::uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIx64, address);
    return text;
}
