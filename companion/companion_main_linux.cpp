// The companion's entry on Linux: companion <process id> <application id>.

#include "companion/command_line.h"
#include "companion/companion.h"

int main(int argc, char** argv) {
    CompanionArguments arguments;
    if (!ReadCompanionArguments(argc, argv, arguments)) return 0;
    return RunCompanion(arguments.processId, arguments.applicationId, "scripts/%s.lua");
}
