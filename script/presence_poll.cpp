#include "script/presence_poll.h"

#include <lua.hpp>

#include "script/script_host.h"

namespace {

// The keys of the script's table, in the order they are read, with the record
// field each one fills.
struct PresenceKey {
    const char* name;
    const char* RichPresence::*field;
};

const PresenceKey kPresenceKeys[] = {
    {"state", &RichPresence::state},
    {"details", &RichPresence::details},
    {"largeImageKey", &RichPresence::largeImageKey},
    {"largeImageText", &RichPresence::largeImageText},
    {"smallImageKey", &RichPresence::smallImageKey},
    {"smallImageText", &RichPresence::smallImageText},
    {"partyId", &RichPresence::partyId},
    {"matchSecret", &RichPresence::matchSecret},
    {"joinSecret", &RichPresence::joinSecret},
    {"spectateSecret", &RichPresence::spectateSecret},
};
constexpr int kPresenceKeyCount = sizeof(kPresenceKeys) / sizeof(kPresenceKeys[0]);

// Calls get_presence and reads the ten fields of its result, all under the
// caller's lua_pcall: an error from the script, from a metamethod of the
// global table or of the result, or from converting a number, fails the poll
// instead of reaching Lua's panic handler. Returns the ten field values, each
// a string (numbers converted in place) or left as it was, when the result is
// a table; otherwise returns nothing.
int CallGetPresence(lua_State* L) {
    lua_getglobal(L, "get_presence");
    lua_call(L, 0, 1);
    if (lua_type(L, -1) != LUA_TTABLE) return 0;
    int result = lua_gettop(L);
    for (const PresenceKey& key : kPresenceKeys) {
        lua_getfield(L, result, key.name);
        if (lua_isstring(L, -1)) lua_tolstring(L, -1, nullptr);
    }
    return kPresenceKeyCount;
}

}  // namespace

bool PollPresence(ScriptHost& host, const PresenceConsumer& consumer) {
    lua_State* L = host.state;
    int height = lua_gettop(L);
    lua_pushcfunction(L, CallGetPresence);
    bool isTable = lua_pcall(L, 0, LUA_MULTRET, 0) == LUA_OK && lua_gettop(L) - height == kPresenceKeyCount;
    if (isTable) {
        // The values stay on the stack until the consumer returns, which keeps
        // the record's texts alive.
        RichPresence presence;
        for (int i = 0; i < kPresenceKeyCount; ++i) {
            int index = height + 1 + i;
            if (lua_type(L, index) == LUA_TSTRING) presence.*kPresenceKeys[i].field = lua_tostring(L, index);
        }
        consumer(presence);
    }
    lua_settop(L, height);
    return isTable;
}
