// The companion's entry on Windows: a GUI-subsystem program without a window
// or console, started as "<path>" <process id> <application id>.

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>

#include "companion/companion.h"
#include "companion/decimal_argument.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) return 0;
    if (argc < 3) {
        LocalFree(argv);
        return 0;
    }
    const int processId = DecimalArgument(argv[1]);

    // The wide-to-multibyte conversion fills at most the whole buffer; an id
    // that needs all of it is cut so that it stays terminated.
    char applicationId[kApplicationIdSize];
    std::size_t converted = std::wcstombs(applicationId, argv[2], sizeof applicationId);
    if (converted == static_cast<std::size_t>(-1)) converted = 0;
    applicationId[converted < sizeof applicationId ? converted : sizeof applicationId - 1] = '\0';
    LocalFree(argv);

    return RunCompanion(processId, applicationId, "scripts\\%s.lua");
}
