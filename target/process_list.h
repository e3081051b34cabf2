#pragma once
// The processes a script author may point the probe at: each with its
// executable's name, its bitness and whether this process may open it for
// reading, and if not, why and what to do about it. Read-only, like the
// rest of target/; one backend per OS (process_list_linux.cpp,
// process_list_win.cpp).

#include <cstdint>
#include <functional>
#include <string>

enum class Bitness { Unknown, Bits32, Bits64 };

// Whether the process may be opened for reading; when not, the cause
// ("it runs as another user (uid 1001)") and a one-line remedy.
struct ProcessAccess {
    bool readable = false;
    std::string cause;
    std::string remedy;
};

struct ProcessInfo {
    std::uint32_t pid = 0;
    std::string name;  // the executable's file name
    Bitness bitness = Bitness::Unknown;
    ProcessAccess access;
};

// Calls `visit` for every process the system lists, in ascending id order
// on Linux and in the system's order on Windows. False when the list cannot
// be read.
bool ListProcesses(const std::function<void(const ProcessInfo&)>& visit);

// The process with this id; false when there is none.
bool DescribeProcess(std::uint32_t pid, ProcessInfo& info);

// The companion build the launcher starts for a target of this bitness:
// "x64" or "x86".
const char* LauncherCompanionArchitecture(Bitness bitness);

// "64-bit", "32-bit" or "of unknown bitness".
const char* BitnessText(Bitness bitness);
