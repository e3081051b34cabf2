#include "script/script_memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "target/memory_scan.h"

namespace {

TargetProcess& UpvalueTarget(lua_State* L) {
    return *static_cast<TargetProcess*>(lua_touserdata(L, lua_upvalueindex(1)));
}

MemoryCounters& UpvalueCounters(lua_State* L) {
    return *static_cast<MemoryCounters*>(lua_touserdata(L, lua_upvalueindex(2)));
}

// The read proper, run under lua_pcall by Read: the destination is a Lua
// userdata, so a buffer that cannot be allocated, or a result string that
// cannot be, raises a memory error that Read turns into nil, and nothing
// leaks on either path. Arguments: target, address, size.
int ReadIntoString(lua_State* L) {
    auto& target = *static_cast<TargetProcess*>(lua_touserdata(L, 1));
    auto address = static_cast<std::uint64_t>(lua_tointeger(L, 2));
    auto size = static_cast<std::size_t>(lua_tointeger(L, 3));
    void* buffer = lua_newuserdata(L, size);
    if (ReadTargetMemory(target, address, buffer, size)) {
        lua_pushlstring(L, static_cast<const char*>(buffer), size);
    } else {
        lua_pushnil(L);
    }
    return 1;
}

// Read(address, size) -> string of exactly size bytes, or nil.
int Read(lua_State* L) {
    MemoryCounters& counters = UpvalueCounters(L);
    ++counters.readCalls;
    lua_Integer address = luaL_checkinteger(L, 1);
    lua_Integer size = luaL_checkinteger(L, 2);
    TargetProcess& target = UpvalueTarget(L);
    // A size that is negative or beyond what this build can address can
    // never be read; refusing it here also keeps it from being truncated.
    if (size < 0 || static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max()) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushcfunction(L, ReadIntoString);
    lua_pushlightuserdata(L, &target);
    lua_pushinteger(L, address);
    lua_pushinteger(L, size);
    if (lua_pcall(L, 3, 1, 0) != LUA_OK) {
        lua_pop(L, 1);
        lua_pushnil(L);
    } else if (!lua_isnil(L, -1)) {
        counters.bytesRead += static_cast<std::uint64_t>(size);
    }
    return 1;
}

// The optional integer argument `arg`, or `fallback` when the call has fewer
// arguments. An argument written as nil counts as passed and raises the
// argument error.
lua_Integer OptionalInteger(lua_State* L, int arg, lua_Integer fallback) {
    return lua_gettop(L) >= arg ? luaL_checkinteger(L, arg) : fallback;
}

std::optional<std::uint64_t> FindText(TargetProcess& target, const char* text, std::uint64_t start,
                                      std::uint64_t end, bool executableOnly) {
    // Lua calls this function from C: a pattern that cannot be allocated must
    // end here as "no match" rather than unwind through Lua's frames.
    try {
        std::optional<BytePattern> pattern = ParsePattern(text);
        std::uint64_t match = 0;
        if (!pattern || !FindPattern(target, *pattern, start, end, executableOnly, match)) return std::nullopt;
        return match;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

// Find(pattern [, start = 0 [, end = -1 [, executableOnly = 1]]]) -> address or nil.
int Find(lua_State* L) {
    MemoryCounters& counters = UpvalueCounters(L);
    ++counters.findCalls;
    if (!lua_isstring(L, 1)) {
        lua_pushnil(L);
        return 1;
    }
    TargetProcess& target = UpvalueTarget(L);
    lua_Integer start = OptionalInteger(L, 2, 0);
    lua_Integer end = OptionalInteger(L, 3, -1);
    bool executableOnly = OptionalInteger(L, 4, 1) != 0;
    // A number is turned into its text; the text ends at its first NUL.
    const char* text = lua_tolstring(L, 1, nullptr);
    const std::uint64_t scannedBefore = ScannedByteCount();
    std::optional<std::uint64_t> match = FindText(target, text, static_cast<std::uint64_t>(start),
                                                  static_cast<std::uint64_t>(end), executableOnly);
    counters.bytesScanned += ScannedByteCount() - scannedBefore;
    if (match) {
        lua_pushinteger(L, static_cast<lua_Integer>(*match));
    } else {
        lua_pushnil(L);
    }
    return 1;
}

// Lua calls this function from C: whatever the lookup meets must end here as
// "not found" rather than unwind through Lua's frames.
bool FindModuleQuietly(TargetProcess& target, const char* name, std::uint64_t& base, std::uint64_t& size) {
    try {
        return FindModule(target, name, base, size);
    } catch (...) {
        return false;
    }
}

// GetModuleInfo(name) -> base, size; or nil, nil.
int GetModuleInfo(lua_State* L) {
    ++UpvalueCounters(L).moduleLookups;
    const char* name = luaL_checklstring(L, 1, nullptr);
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    if (FindModuleQuietly(UpvalueTarget(L), name, base, size)) {
        lua_pushinteger(L, static_cast<lua_Integer>(base));
        lua_pushinteger(L, static_cast<lua_Integer>(size));
    } else {
        lua_pushnil(L);
        lua_pushnil(L);
    }
    return 2;
}

// One pair of pattern text as a byte: the low 8 bits of strtoul in base 16.
std::uint8_t PairValue(char high, char low) {
    const char pair[3] = {high, low, '\0'};
    return static_cast<std::uint8_t>(std::strtoul(pair, nullptr, 16) & 0xFF);
}

// The three functions by their global names.
const luaL_Reg kMemoryFunctions[] = {
    {"Read", Read},
    {"Find", Find},
    {"GetModuleInfo", GetModuleInfo},
    {nullptr, nullptr},
};

}  // namespace

void BindMemoryFunctions(lua_State* L, TargetProcess* target, MemoryCounters* counters) {
    lua_pushglobaltable(L);
    lua_pushlightuserdata(L, target);
    lua_pushlightuserdata(L, counters);
    luaL_setfuncs(L, kMemoryFunctions, 2);
    lua_pop(L, 1);
}

std::optional<BytePattern> ParsePattern(const char* text) {
    std::size_t length = std::strlen(text);
    if (length % 2 != 0) return std::nullopt;
    BytePattern pattern;
    pattern.bytes.reserve(length / 2);
    pattern.mask.reserve(length / 2);
    for (std::size_t i = 0; i < length; i += 2) {
        bool wildcard = text[i] == '.' && text[i + 1] == '.';
        pattern.bytes.push_back(wildcard ? 0 : PairValue(text[i], text[i + 1]));
        pattern.mask.push_back(wildcard ? 0 : 1);
    }
    return pattern;
}
