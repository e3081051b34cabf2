#pragma once
// Registers a per-user URL protocol "corvane-<application id>" that runs a
// game's launch command. On Windows it is a key below the user's
// "Software\Classes"; elsewhere a desktop entry that handles the scheme.
// The caller learns nothing: failures are one line on the standard error
// stream each.

#include <cstdio>
#include <cstring>

#include "companion/application_id.h"

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

// The longest id or Steam id that is registered: the Windows buffers hold 31
// UTF-16 units, and only ASCII is accepted.
constexpr std::size_t kLongestRegisteredId = 31;

// An id becomes part of a URL scheme ("corvane-<id>"), a key or file name and
// a command, so only the characters a scheme allows are accepted: letters,
// digits, '+', '-', '.'; and it must not be empty or longer than 31 bytes.
inline bool IsSchemeText(const char* id) {
    if (id == nullptr || id[0] == '\0' || std::strlen(id) > kLongestRegisteredId) return false;
    for (const char* c = id; *c != '\0'; ++c) {
        bool allowed = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
                       *c == '+' || *c == '-' || *c == '.';
        if (!allowed) return false;
    }
    return true;
}

// An application id is registered when the application-id rule that the
// addon and the companion apply accepts it, and it can be a URL scheme's tail.
inline bool IsRegistrableApplicationId(const char* id) { return IsSchemeText(id) && IsPlainApplicationId(id); }
}  // namespace detail
