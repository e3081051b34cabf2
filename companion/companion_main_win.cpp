// The companion's entry on Windows: a GUI-subsystem program without a window
// or console, started as "<path>" <process id> <application id>.

#include <windows.h>
#include <shellapi.h>

#include "companion/command_line.h"
#include "companion/companion.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) return 0;
    CompanionArguments arguments;
    const bool complete = ReadCompanionArguments(argc, argv, arguments);
    LocalFree(argv);
    if (!complete) return 0;
    return RunCompanion(arguments.processId, arguments.applicationId, "scripts\\%s.lua");
}
