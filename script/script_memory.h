#pragma once
// The memory functions a presence script calls: `Read`, `Find` and
// `GetModuleInfo`, each a Lua C closure whose upvalues are the target process
// and the host's memory counters (light userdata the functions never own).
// All access is read-only.
// Wrong argument types raise Lua's standard argument errors; every other
// failure returns nil to the script.

#include <optional>

#include <lua.hpp>

#include "script/memory_counters.h"
#include "target/target_process.h"

// Sets the globals `Read`, `Find` and `GetModuleInfo`, each bound to `target`
// and counting its calls and bytes into `counters`.
void BindMemoryFunctions(lua_State* L, TargetProcess* target, MemoryCounters* counters);

// Reads pattern text as consecutive pairs of characters, without separators:
// ".." is a wildcard byte, any other pair is converted by strtoul in base 16
// and its low 8 bits become a byte that must match. An odd length is invalid
// (no pattern); an empty text is a valid empty pattern.
std::optional<BytePattern> ParsePattern(const char* text);
