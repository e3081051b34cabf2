// The addon imports the host's functions (V8, node) from "node.exe" and binds
// them on first use. Hosts that embed the runtime under another file name
// export the same functions from their own executable, so the request to load
// the host module is answered with the running executable, whatever its name.

#include <windows.h>

#include <delayimp.h>
#include <string.h>

namespace {

FARPROC WINAPI LoadHostExecutable(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) return nullptr;
    static const char* const hostNames[] = {"iojs.exe", "node.exe", "electron.exe"};
    for (const char* name : hostNames) {
        if (_stricmp(info->szDll, name) == 0) return reinterpret_cast<FARPROC>(GetModuleHandleW(nullptr));
    }
    return nullptr;
}

}  // namespace

// The delay-load helper calls this hook on every notification; declared
// const by some toolchains' headers and not by others.
decltype(__pfnDliNotifyHook2) __pfnDliNotifyHook2 = LoadHostExecutable;
