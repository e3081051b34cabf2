#include "script/script_host.h"

#include <lua.hpp>

#include "script/script_error.h"
#include "script/script_memory.h"

namespace {

// The whole of what a script may use from Lua's standard libraries, in the
// order they are opened. io, os, package (and with it require) and debug are
// left out on purpose: a script only computes and reads the target's memory.
const luaL_Reg kSandboxLibraries[] = {
    {"_G", luaopen_base},
    {LUA_COLIBNAME, luaopen_coroutine},
    {LUA_TABLIBNAME, luaopen_table},
    {LUA_STRLIBNAME, luaopen_string},
    {LUA_MATHLIBNAME, luaopen_math},
    {LUA_UTF8LIBNAME, luaopen_utf8},
};

// Base functions that would let a script load further code from files or text.
const char* const kRemovedBaseFunctions[] = {"dofile", "loadfile", "load"};

// Builds the sandbox in the fresh state, then loads the script and runs its
// chunk once. Runs under lua_pcall, so that any error, a memory error while
// the libraries are opened included, fails the creation instead of reaching
// Lua's panic handler. Arguments: the target, the script path, the host's
// memory counters.
int BuildSandboxAndRunScript(lua_State* L) {
    auto* target = static_cast<TargetProcess*>(lua_touserdata(L, 1));
    const auto* scriptPath = static_cast<const char*>(lua_touserdata(L, 2));
    auto* counters = static_cast<MemoryCounters*>(lua_touserdata(L, 3));
    lua_settop(L, 0);
    for (const luaL_Reg& library : kSandboxLibraries) {
        luaL_requiref(L, library.name, library.func, 1);
        lua_pop(L, 1);
    }
    for (const char* name : kRemovedBaseFunctions) {
        lua_pushnil(L);
        lua_setglobal(L, name);
    }
    BindMemoryFunctions(L, target, counters);
    lua_pushstring(L, ScriptArchitecture());
    lua_setglobal(L, "Architecture");
    // Source text or a precompiled chunk; a first line starting with "#" is skipped.
    if (luaL_loadfilex(L, scriptPath, nullptr) != LUA_OK) return lua_error(L);
    lua_call(L, 0, 0);
    return 0;
}

}  // namespace

ScriptHost::~ScriptHost() { lua_close(state); }

const char* ScriptArchitecture() { return sizeof(void*) == 8 ? "x64" : "x86"; }

std::unique_ptr<ScriptHost> CreateScriptHost(const char* scriptPath, TargetProcess* target,
                                             std::string* errorText) {
    if (scriptPath == nullptr || target == nullptr) {
        if (errorText != nullptr) *errorText = "no script path or no target";
        return nullptr;
    }
    lua_State* L = luaL_newstate();
    if (L == nullptr) {
        if (errorText != nullptr) *errorText = "not enough memory";
        return nullptr;
    }
    // The host owns the state from here on, so that the memory functions can
    // count into it while the chunk runs; on failure it closes the state.
    auto host = std::make_unique<ScriptHost>(L);
    const int handler = errorText != nullptr ? 1 : 0;
    if (errorText != nullptr) lua_pushcfunction(L, detail::AddTraceback);
    lua_pushcfunction(L, BuildSandboxAndRunScript);
    lua_pushlightuserdata(L, target);
    lua_pushlightuserdata(L, const_cast<char*>(scriptPath));
    lua_pushlightuserdata(L, &host->memoryCounters);
    if (lua_pcall(L, 3, 0, handler) != LUA_OK) {
        if (errorText != nullptr) *errorText = detail::ErrorText(L, -1);
        return nullptr;  // the error message goes with the state
    }
    lua_settop(L, 0);  // the message handler, if any
    return host;
}
