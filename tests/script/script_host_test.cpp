// The sandbox as a script sees it, and what a script file may hold.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <lua.hpp>

#include "support/script_test_support.h"
#include "script/script_host.h"

namespace {

using ScriptHostTest = ScriptHostFixture;

TEST_F(ScriptHostTest, ScriptSeesOnlyTheSandbox) {
    ScriptFile script("");
    auto host = CreateScriptHost(script.Path(), Target());
    ASSERT_NE(host, nullptr);
    struct Expectation {
        const char* expression;
        const char* type;
    };
    const Expectation expectations[] = {
        // Absent: no files, no operating system, no loading of further code,
        // nothing of earlier Lua versions.
        {"io", "nil"}, {"os", "nil"}, {"debug", "nil"}, {"package", "nil"},
        {"require", "nil"}, {"load", "nil"}, {"loadfile", "nil"}, {"dofile", "nil"},
        {"loadstring", "nil"}, {"bit32", "nil"}, {"unpack", "nil"}, {"math.pow", "nil"},
        // Present: the base library and five complete standard libraries.
        {"_G", "table"}, {"_VERSION", "string"}, {"assert", "function"},
        {"collectgarbage", "function"}, {"error", "function"}, {"getmetatable", "function"},
        {"ipairs", "function"}, {"next", "function"}, {"pairs", "function"}, {"pcall", "function"},
        {"print", "function"}, {"rawequal", "function"}, {"rawget", "function"},
        {"rawlen", "function"}, {"rawset", "function"}, {"select", "function"},
        {"setmetatable", "function"}, {"tonumber", "function"}, {"tostring", "function"},
        {"type", "function"}, {"xpcall", "function"}, {"coroutine.wrap", "function"},
        {"table.unpack", "function"}, {"string.pack", "function"}, {"string.unpack", "function"},
        {"math.tointeger", "function"}, {"utf8.char", "function"}, {"('x').rep", "function"},
        // The memory functions and the architecture name.
        {"Read", "function"}, {"Find", "function"}, {"GetModuleInfo", "function"},
        {"Architecture", "string"},
    };
    for (const Expectation& e : expectations) {
        EXPECT_EQ(RunInState(host->state, std::string("return type(") + e.expression + ")"), e.type)
            << e.expression;
    }
    EXPECT_EQ(RunInState(host->state, "return _VERSION"), "Lua 5.3");
    EXPECT_EQ(RunInState(host->state, "return Architecture"), sizeof(void*) == 8 ? "x64" : "x86");
}

TEST_F(ScriptHostTest, FailureToLoadOrRunGivesNoHost) {
    const char* const scripts[] = {
        "local x =",                       // syntax error
        "error('refused')",                // error while the chunk runs
        "load('return 1')",                // removed functions are nil
        "loadfile('other.lua')",
        "dofile('other.lua')",
        "require('os')",
        "io.write('x')",
        "Read('not an address', 4)",       // argument error of a memory function
    };
    for (const char* text : scripts) {
        ScriptFile script(text);
        EXPECT_EQ(CreateScriptHost(script.Path(), Target()), nullptr) << text;
    }
    EXPECT_EQ(CreateScriptHost("no-such-directory/no-such-script.lua", Target()), nullptr);
}

// Asked for, the error says where the script failed: its file and line, and a
// traceback when script code was running.
TEST_F(ScriptHostTest, FailureCanBeToldWithFileLineAndTraceback) {
    struct Case {
        const char* script;
        const char* message;  // after the file name
        const char* traceback;  // a line the traceback holds, or null for none
    };
    const Case cases[] = {
        {"x = 1\nerror('refused')", ":2: refused", "in main chunk"},
        {"local function check()\n  Read('not an address', 4)\nend\ncheck()",
         ":2: bad argument #1 to 'Read' (number expected, got string)", ":4: in main chunk"},
        {"local x =", ":1: unexpected symbol near <eof>", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ScriptFile script(c.script);
        const std::string name = std::filesystem::path(script.Path()).filename().string();
        std::string error;
        EXPECT_EQ(CreateScriptHost(script.Path(), Target(), &error), nullptr);
        const std::string firstLine = error.substr(0, error.find('\n'));
        EXPECT_NE(firstLine.find(name + c.message), std::string::npos) << error;
        EXPECT_EQ(error.find("stack traceback:") != std::string::npos, c.traceback != nullptr) << error;
        if (c.traceback != nullptr) {
            EXPECT_NE(error.find(c.traceback), std::string::npos) << error;
        }
    }
    std::string error;
    EXPECT_EQ(CreateScriptHost("no-such-directory/script.lua", Target(), &error), nullptr);
    EXPECT_EQ(error.rfind("cannot open no-such-directory/script.lua", 0), 0u) << error;

    // A script that loads leaves the text alone and the stack empty.
    ScriptFile good("function get_presence() return {} end");
    error = "untouched";
    auto host = CreateScriptHost(good.Path(), Target(), &error);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(lua_gettop(host->state), 0);
}

TEST_F(ScriptHostTest, NullTargetGivesNoHost) {
    ScriptFile script("function get_presence() return {} end");
    EXPECT_EQ(CreateScriptHost(script.Path(), nullptr), nullptr);
}

TEST_F(ScriptHostTest, ChunkRunsOnceInAnyAcceptedForm) {
    const std::string source = "runs = (runs or 0) + 1 marker = 'loaded'";
    const std::string precompiled = CompileChunk(source);
    ASSERT_FALSE(precompiled.empty());
    ASSERT_EQ(precompiled[0], '\x1b');  // the signature of a binary chunk
    const std::string forms[] = {
        source,
        "#!/usr/bin/env lua\n" + source,
        precompiled,
    };
    for (const std::string& form : forms) {
        ScriptFile script(form);
        auto host = CreateScriptHost(script.Path(), Target());
        ASSERT_NE(host, nullptr) << form;
        EXPECT_EQ(RunInState(host->state, "return marker"), "loaded");
        EXPECT_EQ(RunInState(host->state, "return runs"), "1");
        EXPECT_EQ(lua_gettop(host->state), 0);
    }
}

}  // namespace
