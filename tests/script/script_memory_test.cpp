// The memory functions a script calls, and the pattern text they accept.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <lua.hpp>

#include "script/script_host.h"
#include "script/script_memory.h"
#include "support/script_test_support.h"

namespace {

// A pattern as "48 8b .. 05" (".." a wildcard), or "invalid".
std::string Describe(const std::optional<BytePattern>& pattern) {
    if (!pattern) return "invalid";
    std::string text;
    for (std::size_t i = 0; i < pattern->bytes.size(); ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x", pattern->bytes[i]);
        text += (text.empty() ? "" : " ") + std::string(pattern->mask[i] ? pair : "..");
    }
    return text;
}

TEST(ParsePattern, ReadsPairsOfCharacters) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"", ""},                      // an empty pattern is valid
        {"488B05", "48 8b 05"},
        {"488b05", "48 8b 05"},         // digits in either case
        {"48........", "48 .. .. .. .."},
        {"4", "invalid"},               // odd lengths
        {"488B0", "invalid"},
        {"48 8B", "invalid"},           // blanks making the length odd
        {"48 8B 05", "48 08 0b 05"},    // blanks shifting the pairs
        {"??", "00"},                   // only ".." is a wildcard
        {"-1", "ff"},                   // a sign and a digit: low 8 bits of the wrapped value
        {"+f", "0f"},
        {"0x", "00"},                   // a prefix without digits
        {"x1", "00"},                   // no digits at all
        {"1x", "01"},                   // digits up to the first other character
        {" 8", "08"},                   // leading white space skipped
        {".5", "00"},                   // one full stop is not a wildcard
        {"5.", "05"},
        {"4889", "48 89"},              // the text of a number
        {"1.5", "invalid"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Describe(ParsePattern(c.text)), c.expected) << '"' << c.text << '"';
    }
}

struct ChunkCase {
    const char* chunk;
    const char* expected;
};

// The memory functions as a script calls them, against target_child. The
// host's state gets the child's addresses as globals: data (block 0, two
// read-write pages and a read-only one), code (block 1, executable), none
// (block 2, no access), page, and the executable module's name and facts.
class ScriptMemoryTest : public ScriptHostFixture {
protected:
    void SetUp() override {
        ScriptHostFixture::SetUp();
        ScriptFile script(
            "function hex(bytes)\n"
            "  if bytes == nil then return 'nil' end\n"
            "  return (bytes:gsub('.', function(c) return string.format('%02x', c:byte()) end))\n"
            "end\n");
        host_ = CreateScriptHost(script.Path(), Target());
        ASSERT_NE(host_, nullptr);
        SetInteger("data", Child().blocks.at(0).address);
        SetInteger("code", Child().blocks.at(1).address);
        SetInteger("none", Child().blocks.at(2).address);
        SetInteger("page", Child().pageSize);
        SetInteger("exeBase", Child().executable.base);
        SetInteger("exeInside", Child().executable.inside);
        lua_pushstring(host_->state, Child().executable.name.c_str());
        lua_setglobal(host_->state, "exeName");
        lua_pushstring(host_->state, Child().library.name.c_str());
        lua_setglobal(host_->state, "libName");
        ASSERT_EQ(Child().pageSize, 4096u) << "the layout's offsets assume 4 KiB pages";
    }

    void SetInteger(const char* name, std::uint64_t value) {
        lua_pushinteger(host_->state, static_cast<lua_Integer>(value));
        lua_setglobal(host_->state, name);
    }

    std::string Run(const std::string& chunk) { return RunInState(host_->state, chunk); }

    // Each chunk's first result as text.
    template <std::size_t N>
    void ExpectResults(const ChunkCase (&cases)[N]) {
        for (const ChunkCase& c : cases) EXPECT_EQ(Run(c.chunk), c.expected) << c.chunk;
    }

    std::unique_ptr<ScriptHost> host_;
};

TEST_F(ScriptMemoryTest, ReadReturnsExactlyTheBytesOrNil) {
    const ChunkCase cases[] = {
        {"return hex(Read(data, 8))", "4889c0ffee15900d"},
        {"return hex(Read(data + 8188, 4))", "a1a2a3a4"},  // ends on the region's last byte
        {"return hex(Read(data + 8192, 4))", "b1b2b3b4"},  // the read-only page
        {"return hex(Read(tostring(data), 2))", "4889"},   // an integer given as text
        {"return hex(Read(data + 0.0, 2))", "4889"},       // a float with an integer value
        {"return Read(data + 5, 0)", ""},
        {"return type(Read(data, 2 * page))", "string"},
        {"return string.unpack('<i4', Read(code + 8, 4))", "12345"},
        {"return hex(Read(data + 8188, 8))", "nil"},  // leaves the region
        {"return hex(Read(none, 1))", "nil"},
        {"return hex(Read(0, 4))", "nil"},
        {"return hex(Read(data, -1))", "nil"},
        {"return hex(Read(data, math.maxinteger))", "nil"},  // no buffer of that size
        {"return hex(Read(data, 1 << 50))", "nil"},
        {"return select('#', Read(none, 4))", "1"},
    };
    ExpectResults(cases);
}

TEST_F(ScriptMemoryTest, FindSearchesWithItsDefaults) {
    const ChunkCase cases[] = {
        // Executable regions only by default, over the whole range.
        {"return Find('5ca1ab1e0ddba11e') == code", "true"},
        {"return Find('c0ffee15900d')", "nil"},
        {"return Find('5ca1ab1e0ddba11e', code, code + page, 1) == code", "true"},
        {"return Find('5ca1ab1e0ddba11e', code, code + page, 2) == code", "true"},
        {"return Find('c0ffee15900d', data, data + 3 * page, 1)", "nil"},
        {"return Find('c0ffee15900d', data, data + 3 * page, -1)", "nil"},
        // 0 as the fourth argument: every readable region.
        {"return Find('c0ffee15900d', data, data + 3 * page, 0) == data + 2", "true"},
        {"return Find('5ca1ab1e0ddba11e', code, code + page, 0) == code", "true"},
        // Bounds: exactly the pattern, past the match, a negative end, a negative start.
        {"return Find('c0ffee15900d', data + 2, data + 8, 0) == data + 2", "true"},
        {"return Find('c0ffee15900d', data + 2, data + 7, 0)", "nil"},
        {"return Find('c0ffee15900d', data + 3, data + 3 * page, 0)", "nil"},
        {"return Find('c0ffee15900d', data, -2, 0) == data + 2", "true"},
        {"return Find('c0ffee15900d', -page, -1, 0)", "nil"},
        // Wildcards, an empty pattern, numbers as patterns.
        {"return Find('c0ff..15..0d', data, -1, 0) == data + 2", "true"},
        {"return Find('..ffee', data + 1, -1, 0) == data + 2", "true"},
        {"return Find('', data + 5, -1, 0) == data + 5", "true"},
        {"return Find('', code) == code", "true"},
        {"return Find(4889, data, -1, 0) == data", "true"},
        {"return Find(1.5, data, -1, 0)", "nil"},
        // Texts that are no pattern, and no pattern at all, give nil without an error.
        {"return Find('c0ffee15900', data, -1, 0)", "nil"},
        {"return Find('c0 ff ee', data, -1, 0)", "nil"},
        {"return select('#', Find())", "1"},
        {"return Find(nil)", "nil"},
        {"return Find({}, nil, nil, true)", "nil"},
        // The module's image, data included, as the range.
        {"local base, size = GetModuleInfo(exeName)\n"
         "local code16 = hex(Read(exeInside, 16))\n"
         "return Find(code16, exeInside, base + size) == exeInside",
         "true"},
    };
    ExpectResults(cases);
}

TEST_F(ScriptMemoryTest, GetModuleInfoAlwaysReturnsTwoValues) {
    const ChunkCase cases[] = {
        {"local base, size = GetModuleInfo(exeName)\n"
         "return base == exeBase and size > 0 and exeInside >= base and exeInside < base + size",
         "true"},
        {"local base, size = GetModuleInfo(libName) return math.type(base) .. ' ' .. math.type(size)",
         "integer integer"},
        {"return select('#', GetModuleInfo(exeName))", "2"},
        {"return select('#', GetModuleInfo(exeName:upper()))", "2"},
        {"return GetModuleInfo(exeName:upper()) == nil and select(2, GetModuleInfo(exeName:upper())) == nil",
         "true"},
        {"return select('#', GetModuleInfo(12345))", "2"},
        {"return GetModuleInfo('')", "nil"},
    };
    ExpectResults(cases);
}

// The counts a tool shows for a poll: calls of each function, the bytes Read
// returned and the bytes Find's scans read.
TEST_F(ScriptMemoryTest, CountsCallsAndBytes) {
    host_->memoryCounters = MemoryCounters{};
    EXPECT_EQ(Run("return hex(Read(data, 8)) .. hex(Read(none, 1)) .. hex(Read(data, 0))"), "4889c0ffee15900dnil");
    // The match lies in the first region, two pages that one chunk reads.
    EXPECT_EQ(Run("return Find('c0ffee15900d', data, data + 3 * page, 0) == data + 2"), "true");
    EXPECT_EQ(Run("return Find('c0ffee159', data, -1, 0)"), "nil");  // odd: nothing scanned
    EXPECT_EQ(Run("return select('#', GetModuleInfo(exeName))"), "2");
    const MemoryCounters& counted = host_->memoryCounters;
    EXPECT_EQ(counted.readCalls, 3u);
    EXPECT_EQ(counted.bytesRead, 8u);
    EXPECT_EQ(counted.findCalls, 2u);
    EXPECT_EQ(counted.bytesScanned, 2 * Child().pageSize);
    EXPECT_EQ(counted.moduleLookups, 1u);
}

TEST_F(ScriptMemoryTest, WrongArgumentTypesRaiseArgumentErrors) {
    const ChunkCase cases[] = {
        {"Read()", "bad argument #1 to 'Read' (number expected, got no value)"},
        {"Read(data)", "bad argument #2 to 'Read' (number expected, got no value)"},
        {"Read('somewhere', 4)", "bad argument #1 to 'Read' (number expected, got string)"},
        {"Read(data, 1.5)", "bad argument #2 to 'Read' (number has no integer representation)"},
        {"Find('4889', nil)", "bad argument #2 to 'Find' (number expected, got nil)"},
        {"Find('4889', 0, {})", "bad argument #3 to 'Find' (number expected, got table)"},
        {"Find('4889', 0, -1, true)", "bad argument #4 to 'Find' (number expected, got boolean)"},
        {"Find('4889', 0, -1, nil)", "bad argument #4 to 'Find' (number expected, got nil)"},
        {"GetModuleInfo()", "bad argument #1 to 'GetModuleInfo' (string expected, got no value)"},
        {"GetModuleInfo({})", "bad argument #1 to 'GetModuleInfo' (string expected, got table)"},
    };
    for (const ChunkCase& c : cases) {
        EXPECT_EQ(Run(c.chunk), std::string("error: [string \"") + c.chunk + "\"]:1: " + c.expected);
    }
}

}  // namespace
