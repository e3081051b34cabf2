// A small DLL around the addon's launch code, as the addon is a module of its
// own inside a host executable: the module directory test loads it from a
// folder of its own and asks it for its directory.

#include <cstring>
#include <string>

#include "launch.h"

// Copies the launch code's module directory (UTF-8) into `buffer` and gives
// its length, or -1 when it does not fit with its terminator.
extern "C" __declspec(dllexport) int LaunchModuleDirectory(char* buffer, int size) {
    const std::string directory = corvane::moduleDirectory();
    if (size < 0 || directory.size() >= static_cast<std::size_t>(size)) return -1;
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return static_cast<int>(directory.size());
}
