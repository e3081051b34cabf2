#pragma once
// Registers a per-user URL protocol "corvane-<application id>" that runs a
// game's launch command. On Windows it is a key below the user's
// "Software\Classes"; elsewhere a desktop entry that handles the scheme.
// The caller learns nothing: failures are one line on the standard error
// stream each.

#include <cstdio>

// An absent or empty command registers the running executable's own path.
void RegisterLaunchProtocol(const char* applicationId, const char* command);

// Registers a command that starts the game through the installed Steam
// client, by the game's Steam application id.
void RegisterSteamLaunch(const char* applicationId, const char* steamGameId);

namespace detail {
// The lines written on the standard error stream.
constexpr const char kErrorCreatingKey[] = "Error creating key\n";
constexpr const char kErrorWritingDescription[] = "Error writing description\n";
constexpr const char kErrorWritingIcon[] = "Error writing icon\n";
constexpr const char kErrorWritingCommand[] = "Error writing command\n";
constexpr const char kErrorOpeningSteamKey[] = "Error opening Steam key\n";
constexpr const char kErrorReadingSteamExe[] = "Error reading SteamExe key\n";
// Input that is missing, does not fit its buffer or cannot be used safely is
// refused before anything is written.
constexpr const char kInvalidApplicationId[] = "Invalid application id\n";
constexpr const char kInvalidSteamId[] = "Invalid Steam id\n";
constexpr const char kInvalidCommand[] = "Invalid command\n";
constexpr const char kErrorReadingExecutablePath[] = "Error reading executable path\n";

inline void Report(const char* line) { std::fputs(line, stderr); }
}  // namespace detail
