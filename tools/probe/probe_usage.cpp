// The probe's usage texts: one line per command, and the whole of them with
// what each command does and the exit codes.

#include "tools/probe/probe_commands.h"

namespace {

const char* const kRunUsage = "usage: corvane-probe run PID SCRIPT [--every SECONDS] [--count N] [--json]\n";
const char* const kFindUsage =
    "usage: corvane-probe find PID PATTERN [--data] [--all] [--start ADDRESS] [--end ADDRESS]\n";
const char* const kModulesUsage = "usage: corvane-probe modules PID\n";
const char* const kReadUsage = "usage: corvane-probe read PID ADDRESS SIZE\n";
const char* const kProcessesUsage = "usage: corvane-probe processes [TEXT]\n";

const char* const kFullUsage =
    "usage: corvane-probe run PID SCRIPT [--every SECONDS] [--count N] [--json]\n"
    "       corvane-probe find PID PATTERN [--data] [--all] [--start ADDRESS] [--end ADDRESS]\n"
    "       corvane-probe modules PID\n"
    "       corvane-probe read PID ADDRESS SIZE\n"
    "       corvane-probe processes [TEXT]\n"
    "\n"
    "  run      load SCRIPT as the companion does, poll get_presence once (or every\n"
    "           SECONDS until N polls or the game's end; --count alone polls every\n"
    "           15 seconds, as the companion does) and print each request the\n"
    "           companion would send, or why it would clear the presence\n"
    "  find     search as the script's Find does (code only unless --data); --all\n"
    "           lists every match and counts them\n"
    "  modules  every loaded module with the name GetModuleInfo accepts\n"
    "  read     a hex dump of what Read would return\n"
    "  processes  every process (or those whose name holds TEXT) with its id,\n"
    "           bitness and whether the probe may read it, and if not, why\n"
    "\n"
    "Process ids, addresses and sizes are decimal or 0x hexadecimal. The first\n"
    "line of each command names the process and its bitness. Exit codes: 0 done,\n"
    "1 the script failed to load or nothing was found or read, 2 bad arguments,\n"
    "3 the process cannot be opened (the reason and the remedy are printed),\n"
    "4 run: the launcher starts the companion of the other bitness for it.\n";

struct Usage {
    const char* command;
    const char* text;
};

const Usage kUsages[] = {
    {"run", kRunUsage},
    {"find", kFindUsage},
    {"modules", kModulesUsage},
    {"read", kReadUsage},
    {"processes", kProcessesUsage},
};

}  // namespace

const char* CommandUsage(const std::string& command) {
    for (const Usage& usage : kUsages) {
        if (command == usage.command) return usage.text;
    }
    return kFullUsage;
}
