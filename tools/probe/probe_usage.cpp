// The probe's usage texts: one line per command, and the whole of them with
// what each command does and the exit codes.

#include "tools/probe/probe_commands.h"

namespace {

const char* const kRunUsage = "usage: corvane-probe run PID SCRIPT [--every SECONDS] [--count N] [--json]\n";
const char* const kFindUsage =
    "usage: corvane-probe find PID PATTERN [--data] [--all] [--start ADDRESS] [--end ADDRESS]\n";
const char* const kModulesUsage = "usage: corvane-probe modules PID\n";
const char* const kReadUsage = "usage: corvane-probe read PID ADDRESS SIZE\n";
const char* const kSigUsage = "usage: corvane-probe sig PID ADDRESS [--json]   (Linux probe only)\n";
const char* const kScanUsage = "usage: corvane-probe scan PID TYPE VALUE [--save FILE]\n";
const char* const kRescanUsage =
    "usage: corvane-probe rescan FILE (VALUE | changed | unchanged | increased | decreased)\n";
const char* const kProcessesUsage = "usage: corvane-probe processes [TEXT]\n";

const char* const kFullUsage =
    "usage: corvane-probe run PID SCRIPT [--every SECONDS] [--count N] [--json]\n"
    "       corvane-probe find PID PATTERN [--data] [--all] [--start ADDRESS] [--end ADDRESS]\n"
    "       corvane-probe modules PID\n"
    "       corvane-probe read PID ADDRESS SIZE\n"
    "       corvane-probe sig PID ADDRESS [--json]   (Linux probe only)\n"
    "       corvane-probe scan PID TYPE VALUE [--save FILE]\n"
    "       corvane-probe rescan FILE (VALUE | changed | unchanged | increased | decreased)\n"
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
    "  sig      the instructions that refer to ADDRESS (x64: relative to the\n"
    "           instruction; x86: absolute), each with the shortest pattern Find\n"
    "           finds once in code and the Lua that sets `address` from it\n"
    "  scan     every place in writable memory that holds VALUE as TYPE (i8 u8 i16\n"
    "           u16 i32 u32 i64 u64 f32 f64 utf8 utf16); numbers at addresses that\n"
    "           are a multiple of their size, a float within half a unit of the\n"
    "           last digit given (2.5: within 0.05); --save keeps them in FILE\n"
    "  rescan   keeps the places of FILE that now hold VALUE, or whose value has\n"
    "           changed as asked since the last scan, and saves them in FILE\n"
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
    {"sig", kSigUsage},
    {"scan", kScanUsage},
    {"rescan", kRescanUsage},
    {"processes", kProcessesUsage},
};

}  // namespace

const char* CommandUsage(const std::string& command) {
    for (const Usage& usage : kUsages) {
        if (command == usage.command) return usage.text;
    }
    return kFullUsage;
}
