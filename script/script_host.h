#pragma once
// The script host: one sandboxed Lua state that runs a game's presence script
// for the whole life of the companion. The script sees a restricted set of
// standard libraries, the memory functions bound to the target process and
// the global `Architecture`; it cannot open files, reach the operating system
// or load further code.

#include <memory>
#include <string>

#include "script/memory_counters.h"

struct lua_State;
class TargetProcess;

// Owns one Lua state; destroying the host closes it. A host exists only when
// its script was loaded and ran without error.
struct ScriptHost {
    lua_State* state = nullptr;
    // Counted by the memory functions bound to this state.
    MemoryCounters memoryCounters;

    explicit ScriptHost(lua_State* ownedState) : state(ownedState) {}
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;
    ~ScriptHost();
};

// Creates the sandboxed state, binds the memory functions to `target` (which
// must outlive the host), loads the script file (source or precompiled; a
// first line starting with "#" is skipped) and runs its chunk once. Any
// failure, a null target included, yields no host; then, when `errorText` is
// given, it receives the error with a traceback naming the script's file and
// line.
std::unique_ptr<ScriptHost> CreateScriptHost(const char* scriptPath, TargetProcess* target,
                                             std::string* errorText = nullptr);

// The value of the script global `Architecture`: this build's own architecture.
const char* ScriptArchitecture();
