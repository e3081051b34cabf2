#include "script_host.h"

#include <lua.hpp>

#include "script_memory.h"

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

// Fills the fresh state's globals. Run under lua_pcall so that even a memory
// error here fails the creation instead of reaching Lua's panic handler.
int OpenSandbox(lua_State* L) {
    auto* target = static_cast<TargetProcess*>(lua_touserdata(L, 1));
    for (const luaL_Reg& library : kSandboxLibraries) {
        luaL_requiref(L, library.name, library.func, 1);
        lua_pop(L, 1);
    }
    for (const char* name : kRemovedBaseFunctions) {
        lua_pushnil(L);
        lua_setglobal(L, name);
    }
    BindMemoryFunctions(L, target);
    lua_pushstring(L, ScriptArchitecture());
    lua_setglobal(L, "Architecture");
    return 0;
}

bool RunScript(lua_State* L, const char* scriptPath, TargetProcess* target) {
    lua_pushcfunction(L, OpenSandbox);
    lua_pushlightuserdata(L, target);
    if (lua_pcall(L, 1, 0, 0) != LUA_OK) return false;
    if (luaL_loadfilex(L, scriptPath, nullptr) != LUA_OK) return false;
    return lua_pcall(L, 0, 0, 0) == LUA_OK;
}

}  // namespace

ScriptHost::~ScriptHost() { lua_close(state); }

const char* ScriptArchitecture() { return sizeof(void*) == 8 ? "x64" : "x86"; }

std::unique_ptr<ScriptHost> CreateScriptHost(const char* scriptPath, TargetProcess* target) {
    if (scriptPath == nullptr || target == nullptr) return nullptr;
    lua_State* L = luaL_newstate();
    if (L == nullptr) return nullptr;
    if (!RunScript(L, scriptPath, target)) {
        lua_close(L);  // drops the error message with the state
        return nullptr;
    }
    return std::make_unique<ScriptHost>(L);
}
