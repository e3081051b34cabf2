// Polls of a presence script: what reaches the consumer, what fails, and that
// the state neither grows nor breaks from one poll to the next.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include <lua.hpp>

#include "script/presence_poll.h"
#include "support/script_test_support.h"
#include "script/script_host.h"

namespace {

using Texts = std::array<std::optional<std::string>, 10>;

// What one poll delivered: the ten texts in key order, and whether any field
// the script cannot set was non-zero.
struct PollResult {
    bool ok = false;
    int consumerCalls = 0;
    Texts texts;
    bool numbersSet = false;
};

std::optional<std::string> Copy(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

PollResult Poll(ScriptHost& host) {
    PollResult result;
    result.ok = PollPresence(host, [&result](const RichPresence& p) {
        ++result.consumerCalls;
        result.texts = {Copy(p.state),         Copy(p.details),        Copy(p.largeImageKey),
                        Copy(p.largeImageText), Copy(p.smallImageKey),  Copy(p.smallImageText),
                        Copy(p.partyId),        Copy(p.matchSecret),    Copy(p.joinSecret),
                        Copy(p.spectateSecret)};
        result.numbersSet = p.startTime != 0 || p.endTime != 0 || p.partyCount != 0 ||
                            p.partyCapacity != 0 || p.instance != 0;
    });
    return result;
}

class PresencePollTest : public ScriptHostFixture {
protected:
    std::unique_ptr<ScriptHost> Host(const std::string& script) {
        ScriptFile file(script);
        return CreateScriptHost(file.Path(), Target());
    }
};

TEST_F(PresencePollTest, TableBecomesRecord) {
    const std::nullopt_t none = std::nullopt;
    struct Case {
        const char* name;
        const char* script;
        Texts expected;
    };
    const Case cases[] = {
        {"empty table", "function get_presence() return {} end", {}},
        {"every key in its field",
         "function get_presence() return { state = 's', details = 'd', largeImageKey = 'lk',"
         " largeImageText = 'lt', smallImageKey = 'sk', smallImageText = 'st', partyId = 'p',"
         " matchSecret = 'm', joinSecret = 'j', spectateSecret = 'w', startTime = 5,"
         " partyCount = 2, instance = true } end",
         {"s", "d", "lk", "lt", "sk", "st", "p", "m", "j", "w"}},
        {"numbers as text, other types left out",
         "function get_presence() return { state = 3, details = 1.5, largeImageKey = true,"
         " largeImageText = {}, smallImageKey = print, smallImageText = false,"
         " partyId = -7, matchSecret = 2.0 } end",
         {"3", "1.5", none, none, none, none, "-7", "2.0", none, none}},
        {"second result ignored", "function get_presence() return { state = 'first' }, { state = 'second' } end",
         {"first"}},
        {"text ends at its first zero byte", "function get_presence() return { state = 'ab\\0cd' } end", {"ab"}},
        {"other keys ignored", "function get_presence() return { State = 'x', [1] = 'y', extra = 'z' } end", {}},
        {"a callable table as get_presence",
         "get_presence = setmetatable({}, { __call = function() return { state = 'called' } end })", {"called"}},
        {"index metamethod supplies the fields",
         "function get_presence() return setmetatable({}, { __index = function(_, key) return key end }) end",
         {"state", "details", "largeImageKey", "largeImageText", "smallImageKey", "smallImageText", "partyId",
          "matchSecret", "joinSecret", "spectateSecret"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto host = Host(c.script);
        ASSERT_NE(host, nullptr);
        PollResult result = Poll(*host);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.consumerCalls, 1);
        EXPECT_EQ(result.texts, c.expected);
        EXPECT_FALSE(result.numbersSet);
    }
}

TEST_F(PresencePollTest, NoTableFailsWithoutCallingTheConsumer) {
    const char* const scripts[] = {
        "function get_presence() return nil end",
        "function get_presence() end",
        "function get_presence() return 'state' end",
        "function get_presence() return 5 end",
        "function get_presence() error('game not ready') end",
        "function get_presence() error({ code = 1 }) end",
        "function get_presence() error() end",
        "function get_presence() return Read('not an address', 4) end",
        "function get_presence() local function deeper() return deeper() + 1 end return deeper() end",
        "-- defines no get_presence",
        "get_presence = 5",
        // Raising metamethods where the poll reads: the global and the fields.
        "setmetatable(_G, { __index = function(_, key) error('no ' .. key) end })",
        "function get_presence() return setmetatable({}, { __index = function() error('no field') end }) end",
        "function get_presence()"
        " return setmetatable({}, { __index = function(_, key) if key == 'joinSecret' then error('late') end end })"
        " end",
    };
    for (const char* script : scripts) {
        SCOPED_TRACE(script);
        auto host = Host(script);
        ASSERT_NE(host, nullptr);
        PollResult result = Poll(*host);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.consumerCalls, 0);
        EXPECT_EQ(lua_gettop(host->state), 0);
    }
}

// Asked for, a failed poll says why; the stack is left as it was either way.
TEST_F(PresencePollTest, FailureCanBeToldWithFileLineAndTraceback) {
    struct Case {
        const char* script;
        const char* firstLine;  // after the file name and ":" when it names the file
        bool namesFile;
        const char* traceback;  // a line the traceback holds, or null for none
    };
    const Case cases[] = {
        {"function get_presence()\n  error('game not ready')\nend", ":2: game not ready", true,
         ":2: in function 'get_presence'"},
        {"local function decode() return string.unpack('<i4', nil) end\n"
         "function get_presence()\n  return { state = decode() }\nend",
         ":1: bad argument #2 to 'unpack' (string expected, got nil)", true, ":3: in function 'get_presence'"},
        {"function get_presence() error({}) end", "(error object is a table value)", false, "in function"},
        {"function get_presence() error(setmetatable({}, { __tostring = function() return 'custom' end })) end",
         "custom", false, "in function"},
        {"-- defines no get_presence", "get_presence is not defined", false, nullptr},
        {"get_presence = 5", "get_presence is a number, not a function", false, nullptr},
        {"get_presence = {}", "get_presence is a table, not a function", false, nullptr},
        {"function get_presence() return nil end", "get_presence returned nil instead of a table", false, nullptr},
        {"function get_presence() return 'x' end", "get_presence returned a string instead of a table", false,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ScriptFile file(c.script);
        auto host = CreateScriptHost(file.Path(), Target());
        ASSERT_NE(host, nullptr);
        const std::string name = std::filesystem::path(file.Path()).filename().string();
        std::string error;
        EXPECT_FALSE(PollPresence(*host, [](const RichPresence&) {}, &error));
        const std::string firstLine = error.substr(0, error.find('\n'));
        if (c.namesFile) {
            EXPECT_NE(firstLine.find(name + c.firstLine), std::string::npos) << error;
        } else {
            EXPECT_EQ(firstLine, c.firstLine);
        }
        EXPECT_EQ(error.find("stack traceback:") != std::string::npos, c.traceback != nullptr) << error;
        if (c.traceback != nullptr) {
            EXPECT_NE(error.find(c.traceback), std::string::npos) << error;
        }
        EXPECT_EQ(lua_gettop(host->state), 0);
    }
}

TEST_F(PresencePollTest, GlobalsPersistAndAnErrorDoesNotStopLaterPolls) {
    auto host = Host(
        "polls = 0\n"
        "function get_presence()\n"
        "  polls = polls + 1\n"
        "  if polls == 2 then error('second poll fails') end\n"
        "  return { state = polls }\n"
        "end\n");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(Poll(*host).texts[0], "1");
    EXPECT_FALSE(Poll(*host).ok);
    EXPECT_EQ(Poll(*host).texts[0], "3");
    EXPECT_EQ(Poll(*host).texts[0], "4");
}

TEST_F(PresencePollTest, ScriptFindsReadsAndReportsValuesOfTheTarget) {
    // Written as a game's script would be: find the game's data once by its
    // signature, cache the address, decode the value on every poll.
    auto host = Host(std::string("local exe = '") + Child().executable.name + "'\n" +
                     "function get_presence()\n"
                     "  scoreAt = scoreAt or Find('" + kCodeMarker + "') + 8\n"
                     "  local bytes = Read(scoreAt, 4)\n"
                     "  if not bytes then return nil end\n"
                     "  local base = GetModuleInfo(exe)\n"
                     "  return { state = 'Score ' .. string.unpack('<i4', bytes),\n"
                     "           details = base and 'module found' or 'no module',\n"
                     "           largeImageKey = Architecture }\n"
                     "end\n");
    ASSERT_NE(host, nullptr);
    for (int poll = 0; poll < 2; ++poll) {
        PollResult result = Poll(*host);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.texts[0], "Score 12345");
        EXPECT_EQ(result.texts[1], "module found");
        EXPECT_EQ(result.texts[2], ScriptArchitecture());
    }
    EXPECT_EQ(RunInState(host->state, "return scoreAt"), std::to_string(Child().blocks.at(1).address + 8));
}

TEST_F(PresencePollTest, StackHeightIsUnchangedAfterManyPollsOfEveryKind) {
    auto host = Host(
        "local kinds = {\n"
        "  function() return { state = 'playing', details = 42 } end,\n"
        "  function() return {} end,\n"
        "  function() return nil end,\n"
        "  function() return 'text', 'and more' end,\n"
        "  function() error('failed') end,\n"
        "  function() return setmetatable({}, { __index = function() error('field') end }) end,\n"
        "  function() return Find() end,\n"
        "}\n"
        "local poll = 0\n"
        "function get_presence()\n"
        "  poll = poll + 1\n"
        "  return kinds[poll % #kinds + 1]()\n"
        "end\n");
    ASSERT_NE(host, nullptr);
    // Values the caller left on the stack must survive every poll.
    lua_pushstring(host->state, "below");
    lua_pushinteger(host->state, 7);
    int successes = 0;
    for (int i = 0; i < 700; ++i) successes += Poll(*host).ok ? 1 : 0;
    EXPECT_EQ(successes, 200);
    ASSERT_EQ(lua_gettop(host->state), 2);
    EXPECT_STREQ(lua_tostring(host->state, 1), "below");
    EXPECT_EQ(lua_tointeger(host->state, 2), 7);
}

}  // namespace
