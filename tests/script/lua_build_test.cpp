// The Lua library is built without its 5.2 compatibility layer: scripts must
// not find bit32 or math.pow, whatever the sandbox opens.
#include <gtest/gtest.h>

#include <string>

#include <lua.hpp>

namespace {

struct LuaState {
    lua_State* L = luaL_newstate();
    ~LuaState() { lua_close(L); }
};

bool GlobalIsNil(lua_State* L, const char* expression) {
    std::string chunk = std::string("return ") + expression + " == nil";
    EXPECT_EQ(luaL_dostring(L, chunk.c_str()), LUA_OK) << lua_tostring(L, -1);
    bool isNil = lua_toboolean(L, -1);
    lua_pop(L, 1);
    return isNil;
}

TEST(LuaBuild, CompatibilityFunctionsAreAbsent) {
    LuaState s;
    const luaL_Reg libs[] = {{"_G", luaopen_base},         {LUA_MATHLIBNAME, luaopen_math},
                             {LUA_STRLIBNAME, luaopen_string}, {LUA_UTF8LIBNAME, luaopen_utf8},
                             {LUA_TABLIBNAME, luaopen_table}};
    for (const luaL_Reg& lib : libs) {
        luaL_requiref(s.L, lib.name, lib.func, 1);
        lua_pop(s.L, 1);
    }
    EXPECT_TRUE(GlobalIsNil(s.L, "bit32"));
    EXPECT_TRUE(GlobalIsNil(s.L, "math.pow"));
    EXPECT_TRUE(GlobalIsNil(s.L, "unpack"));
    EXPECT_FALSE(GlobalIsNil(s.L, "string.unpack"));
    EXPECT_FALSE(GlobalIsNil(s.L, "utf8.char"));
}

}  // namespace
