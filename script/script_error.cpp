#include "script/script_error.h"

#include <lua.hpp>

namespace {

// True when Lua code is on the stack below the handler. An error raised with
// only C functions there (a file that cannot be loaded, a get_presence that
// is no function) has no traceback worth showing.
bool LuaCodeOnStack(lua_State* L) {
    lua_Debug frame;
    for (int level = 1; lua_getstack(L, level, &frame) != 0; ++level) {
        if (lua_getinfo(L, "S", &frame) != 0 && frame.what[0] != 'C') return true;
    }
    return false;
}

}  // namespace

namespace detail {

int AddTraceback(lua_State* L) {
    const char* message = lua_tostring(L, 1);
    if (message == nullptr) {
        // An error object with __tostring says what it is; any other is named by its type.
        if (luaL_callmeta(L, 1, "__tostring") && lua_type(L, -1) == LUA_TSTRING) {
            message = lua_tostring(L, -1);
        } else {
            message = lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
        }
    }
    if (LuaCodeOnStack(L)) {
        luaL_traceback(L, L, message, 1);
    } else {
        lua_pushstring(L, message);
    }
    return 1;
}

std::string ErrorText(lua_State* L, int index) {
    std::size_t length = 0;
    if (lua_type(L, index) == LUA_TSTRING) {
        const char* text = lua_tolstring(L, index, &length);
        return std::string(text, length);
    }
    return std::string("(error object is a ") + luaL_typename(L, index) + " value)";
}

}  // namespace detail
