#pragma once
// Starting the presence companion for a game. The addon works on a fixed
// layout beside its own file:
//
//   <module directory>/corvane_ostravine.node
//   <module directory>/8a57342e5e/CorvaneTallowin_x64[.exe]
//   <module directory>/8a57342e5e/CorvaneTallowin_x86[.exe]   (Windows only)
//   <module directory>/8a57342e5e/scripts/<application id>.lua
//
// Every companion is placed in the child job, which ends it when the host
// process ends. Failures are results: false or an empty optional.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

inline constexpr char kCompanionDirectoryName[] = "8a57342e5e";

// The job that ties every companion to the life of the host process. A zero
// handle means there is no job, and then nothing is launched.
struct ChildJob {
    std::uintptr_t handle = 0;
    explicit operator bool() const { return handle != 0; }
};

// ---- Shared logic (launch.cc) ---------------------------------------------

// True when the script for `appId` exists in the companion directory below
// `moduleDir` (a directory of that name counts too). An app id that the
// application-id rule refuses (companion/application_id.h: a zero byte, a
// separator, a device name, ...) names no script and gives false;
// launchCompanion refuses such an id too.
bool scriptExists(const std::string& moduleDir, const std::string& appId);

// Starts the companion build that matches the game process `gamePid`, with
// the game's pid and `appId` as its arguments and the companion directory as
// its working directory, inside `job`. Gives the companion's pid.
std::optional<std::uint32_t> launchCompanion(ChildJob job, const std::string& moduleDir,
                                             std::uint32_t gamePid, const std::string& appId);

// ---- OS backend (launch_win.cc, launch_linux.cc) ---------------------------

extern const char kPathSeparator[];     // "\\" or "/"
extern const char kExecutableSuffix[];  // ".exe" or ""

// Creates the job; an empty ChildJob when that fails.
ChildJob createChildJob();

// The directory that holds the module (the addon file) containing this code,
// as UTF-8, without a trailing separator.
std::string moduleDirectory();

// True when something exists at the UTF-8 path.
bool pathExists(const std::string& path);

// True when the 64-bit companion is the one to read process `pid`.
bool isNative64BitProcess(std::uint32_t pid);

// Starts arguments[0] with `arguments` (UTF-8, each one reaching the program
// as one argument) in `workingDirectory`, so that it runs no instruction
// outside `job`. Gives its pid; the caller is left holding nothing of it.
std::optional<std::uint32_t> startInJob(ChildJob job, const std::vector<std::string>& arguments,
                                        const std::string& workingDirectory);

}  // namespace corvane
