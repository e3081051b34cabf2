#include "script/presence_poll.h"

#include <lua.hpp>

#include "script/script_error.h"
#include "script/script_host.h"

namespace {

// The keys of the script's table are the record's text fields, read in
// their order.
constexpr int kPresenceKeyCount = sizeof(kRichPresenceTextFields) / sizeof(kRichPresenceTextFields[0]);

// Calls get_presence and reads the ten fields of its result, all under the
// caller's lua_pcall: an error from the script, from a metamethod of the
// global table or of the result, or from converting a number, fails the poll
// instead of reaching Lua's panic handler. Returns the ten field values, each
// a string (numbers converted in place) or left as it was, when the result is
// a table; otherwise returns the result alone.
int CallGetPresence(lua_State* L) {
    lua_getglobal(L, "get_presence");
    // Calling a value that cannot be called fails either way; this way the
    // error says what the script defined instead of a function.
    const int type = lua_type(L, -1);
    if (type != LUA_TFUNCTION) {
        if (luaL_getmetafield(L, -1, "__call") == LUA_TNIL) {
            if (type == LUA_TNIL) return luaL_error(L, "get_presence is not defined");
            return luaL_error(L, "get_presence is a %s, not a function", lua_typename(L, type));
        }
        lua_pop(L, 1);
    }
    lua_call(L, 0, 1);
    if (lua_type(L, -1) != LUA_TTABLE) return 1;
    int result = lua_gettop(L);
    for (const RichPresenceTextField& key : kRichPresenceTextFields) {
        lua_getfield(L, result, key.name);
        if (lua_isstring(L, -1)) lua_tolstring(L, -1, nullptr);
    }
    return kPresenceKeyCount;
}

// "get_presence returned nil instead of a table", "... a number instead ...".
std::string ReturnedInsteadOfTable(lua_State* L, int index) {
    const bool isNil = lua_isnil(L, index);
    return std::string("get_presence returned ") + (isNil ? "" : "a ") + luaL_typename(L, index) +
           " instead of a table";
}

}  // namespace

bool PollPresence(ScriptHost& host, const PresenceConsumer& consumer, std::string* errorText) {
    lua_State* L = host.state;
    int height = lua_gettop(L);
    // Only a caller that shows the error pays for a traceback.
    const int handler = errorText != nullptr ? height + 1 : 0;
    if (errorText != nullptr) lua_pushcfunction(L, detail::AddTraceback);
    const int results = lua_gettop(L);  // the results come after this index
    lua_pushcfunction(L, CallGetPresence);
    const int status = lua_pcall(L, 0, LUA_MULTRET, handler);
    bool isTable = status == LUA_OK && lua_gettop(L) - results == kPresenceKeyCount;
    if (isTable) {
        // The values stay on the stack until the consumer returns, which keeps
        // the record's texts alive.
        RichPresence presence;
        for (int i = 0; i < kPresenceKeyCount; ++i) {
            int index = results + 1 + i;
            if (lua_type(L, index) == LUA_TSTRING) presence.*kRichPresenceTextFields[i].member = lua_tostring(L, index);
        }
        consumer(presence);
    } else if (errorText != nullptr) {
        *errorText = status != LUA_OK ? detail::ErrorText(L, -1) : ReturnedInsteadOfTable(L, -1);
    }
    lua_settop(L, height);
    return isTable;
}
