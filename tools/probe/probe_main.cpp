// corvane-probe: a console tool for presence script authors. It runs a
// script against a live game exactly as the companion does and shows what
// the companion would send, and it shows what the script's memory functions
// see: modules, pattern matches and memory. It only ever reads the game.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/probe/probe_commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"run", RunCommand},
    {"find", FindCommand},
    {"modules", ModulesCommand},
    {"read", ReadCommand},
    {"sig", SigCommand},
    {"scan", ScanCommand},
    {"rescan", RescanCommand},
    {"processes", ProcessesCommand},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0)) {
        std::fputs(CommandUsage(""), stdout);
        return kExitDone;
    }
    if (argc >= 2) {
        for (const Command& command : kCommands) {
            if (std::strcmp(argv[1], command.name) == 0) return command.run({argv + 2, argv + argc});
        }
        std::fprintf(stderr, "corvane-probe: unknown command %s\n", argv[1]);
    }
    std::fputs(CommandUsage(""), stderr);
    return kExitUsage;
}
