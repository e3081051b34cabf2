// `modules PID`: every loaded module as GetModuleInfo sees it: base, size and
// the exact name it accepts (case-sensitive), in the order it looks at them.

#include <cstdio>
#include <set>
#include <string>

#include "target/target_listing.h"
#include "tools/probe/command_support.h"
#include "tools/probe/probe_arguments.h"
#include "tools/probe/probe_commands.h"

int ModulesCommand(const std::vector<std::string>& arguments) {
    CommandArguments split;
    std::string error;
    if (!SplitArguments(arguments, {}, {}, split, error)) return UsageError("modules", error);
    if (split.positional.size() != 1) return UsageError("modules", "modules takes a process id");
    int exitCode = kExitDone;
    ProcessInfo info;
    std::unique_ptr<TargetProcess> target = OpenTargetArgument("modules", split.positional[0], info, exitCode);
    if (!target) return exitCode;
    std::printf("%s\n", TargetLine(info).c_str());

    std::printf("%-18s %-12s %s\n", "base", "size", "name");
    std::set<std::string> names;
    std::set<std::string> shadowed;  // names GetModuleInfo answers with an earlier module
    std::size_t count = 0;
    const bool complete = ListModules(*target, [&](const ModuleEntry& module) {
        std::printf("%-18s %-12s %s\n", HexAddress(module.base).c_str(), HexAddress(module.size).c_str(),
                    module.name.c_str());
        if (!names.insert(module.name).second) shadowed.insert(module.name);
        ++count;
    });
    std::printf("%llu %s\n", static_cast<unsigned long long>(count), count == 1 ? "module" : "modules");
    for (const std::string& name : shadowed) {
        std::printf("note: several modules are named %s; GetModuleInfo returns the first listed\n", name.c_str());
    }
    if (!complete) {
        std::fprintf(stderr, "corvane-probe: the modules could not all be listed; GetModuleInfo finds none "
                             "of those missing either\n");
        return kExitFailed;
    }
    return kExitDone;
}
