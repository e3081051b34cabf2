// `sig` needs Capstone, which the Windows builds do not carry: the Linux
// probe offers it.
#include <cstdio>

#include "tools/probe/probe_commands.h"

int SigCommand(const std::vector<std::string>&) {
    std::fprintf(stderr,
                 "corvane-probe: sig is offered by the Linux probe only; on Windows, find the instruction with a "
                 "disassembler and check its pattern with find --all\n");
    return kExitUsage;
}
