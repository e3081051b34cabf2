#pragma once
// The companion's whole life after its command line has been read: open the
// game, load its script, start the RPC client, poll every 15 seconds until
// the game ends, then shut everything down in order.

#include <cstddef>

// The application id buffer is 260 bytes; longer ids are cut and terminated.
constexpr std::size_t kApplicationIdSize = 260;
constexpr std::size_t kScriptPathSize = 260;
constexpr unsigned kPollIntervalMs = 15000;

// `scriptPathFormat` names the script for an application id, relative to the
// working directory ("scripts/%s.lua" or "scripts\\%s.lua"). Returns the
// process exit code, which is always 0.
int RunCompanion(int processId, const char* applicationId, const char* scriptPathFormat);
