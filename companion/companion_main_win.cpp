// The companion's entry on Windows: a GUI-subsystem program without a window
// or console, started as "<path>" <process id> <application id>.
//
// The application id reaches the program as UTF-16 and is used as UTF-8. The
// script is opened by the C library, which reads its path in the process's
// code page; the program's manifest makes that UTF-8 (Windows 10 1903 and
// later). Where the system ignores that request, a path beyond ASCII would
// name another file than the addon checked, so such an id runs no script.

#include <windows.h>
#include <shellapi.h>

#include "companion/command_line.h"
#include "companion/companion.h"

namespace {

bool IsAscii(const char* text) {
    for (; *text != '\0'; ++text) {
        if (static_cast<unsigned char>(*text) >= 0x80) return false;
    }
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) return 0;
    CompanionArguments arguments;
    const bool complete = ReadCompanionArguments(argc, argv, arguments);
    LocalFree(argv);
    if (!complete) return 0;
    if (GetACP() != CP_UTF8 && !IsAscii(arguments.applicationId)) return 0;
    return RunCompanion(arguments.processId, arguments.applicationId, "scripts\\%s.lua");
}
