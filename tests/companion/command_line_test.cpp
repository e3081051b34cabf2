// The companion's command line through the code that main and WinMain use:
// the process id's decimal conversion, the application id cut at its buffer
// (narrow, and wide converted to UTF-8), the arguments that are required and
// those that are ignored, and the script path that loses ".lua" for long ids
// (which the application-id rule then refuses).

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <string>
#include <vector>

#include "companion/command_line.h"

namespace {

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

TEST(CompanionCommandLine, TheProcessIdIsReadLikeTheRuntimesDecimalConversion) {
    struct Case {
        const char* text;
        int processId;
    };
    const Case cases[] = {
        {"4242", 4242},
        {" \t 4242", 4242},                  // leading blanks
        {"+4242", 4242},                     // a sign
        {"-4242", -4242},
        {"4242abc", 4242},                   // trailing characters
        {"42 43", 42},
        {"2147483647", INT_MAX},
        {"4294967296", INT_MAX},             // beyond 32 bits: clamped
        {"99999999999999999999999", INT_MAX},
        {"-2147483649", INT_MIN},
        {"", 0},                             // no digits
        {"abc", 0},
        {"+", 0},
        {"- 5", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DecimalArgument(c.text), c.processId);
        EXPECT_EQ(DecimalArgument(Wide(c.text).c_str()), c.processId);
    }
}

TEST(CompanionCommandLine, NeedsTwoArgumentsAndIgnoresTheRest) {
    struct Case {
        std::vector<std::string> arguments;  // after the program
        bool complete;
        int processId;
        std::string applicationId;
    };
    const Case cases[] = {
        {{}, false, 0, ""},
        {{"4242"}, false, 0, ""},
        {{"4242", "300000000000000001"}, true, 4242, "300000000000000001"},
        {{" +4242x", "300000000000000001", "extra", "arguments"}, true, 4242, "300000000000000001"},
        {{"4242", ""}, true, 4242, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        std::vector<std::string> narrow = {"CorvaneTallowin_x64"};
        narrow.insert(narrow.end(), c.arguments.begin(), c.arguments.end());
        std::vector<const char*> narrowArgv;
        std::vector<std::wstring> wide;
        for (const std::string& argument : narrow) {
            narrowArgv.push_back(argument.c_str());
            wide.push_back(Wide(argument));
        }
        std::vector<const wchar_t*> wideArgv;
        for (const std::wstring& argument : wide) wideArgv.push_back(argument.c_str());
        const int argc = static_cast<int>(narrow.size());

        CompanionArguments fromNarrow;
        CompanionArguments fromWide;
        ASSERT_EQ(ReadCompanionArguments(argc, narrowArgv.data(), fromNarrow), c.complete);
        ASSERT_EQ(ReadCompanionArguments(argc, wideArgv.data(), fromWide), c.complete);
        if (!c.complete) continue;
        for (const CompanionArguments& read : {fromNarrow, fromWide}) {
            EXPECT_EQ(read.processId, c.processId);
            EXPECT_EQ(std::string(read.applicationId), c.applicationId);
        }
    }
}

TEST(CompanionCommandLine, TheApplicationIdIsCutToItsBufferAndStaysTerminated) {
    // 259 bytes fit with the terminator; a longer id, narrow or wide, is cut
    // to 259.
    const std::size_t lengths[] = {258, 259, 260, 261, 400};
    for (std::size_t length : lengths) {
        SCOPED_TRACE(length);
        const std::string id(length, '7');
        const std::wstring wideId = Wide(id);
        const char* narrowArgv[] = {"companion", "1", id.c_str()};
        const wchar_t* wideArgv[] = {L"companion", L"1", wideId.c_str()};
        const std::string expected = id.substr(0, kApplicationIdSize - 1);

        CompanionArguments fromNarrow;
        CompanionArguments fromWide;
        std::fill(std::begin(fromWide.applicationId), std::end(fromWide.applicationId), 'x');
        ASSERT_TRUE(ReadCompanionArguments(3, narrowArgv, fromNarrow));
        ASSERT_TRUE(ReadCompanionArguments(3, wideArgv, fromWide));
        EXPECT_EQ(std::string(fromNarrow.applicationId), expected);
        EXPECT_EQ(std::string(fromWide.applicationId), expected);
    }
}

TEST(CompanionCommandLine, AWideIdBecomesItsUtf8AndOneThatIsNoTextIsRefused) {
    struct Case {
        std::wstring id;
        bool complete;
        std::string utf8;
    };
    const Case cases[] = {
        {L"30000\u00FC", true, "30000\xC3\xBC"},                // Latin-1
        {L"30000\u4E2D\u65E5", true, "30000\xE4\xB8\xAD\xE6\x97\xA5"},  // beyond Latin-1
        {L"30000\U0001F600", true, "30000\xF0\x9F\x98\x80"},  // a surrogate pair in UTF-16
        {L"\uFFFD", true, "\xEF\xBF\xBD"},
        {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x", false, ""},  // lone surrogates
        {L"x" + std::wstring(1, static_cast<wchar_t>(0xDC00)), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        const wchar_t* argv[] = {L"companion", L"1", c.id.c_str()};
        CompanionArguments read;
        ASSERT_EQ(ReadCompanionArguments(3, argv, read), c.complete);
        if (c.complete) EXPECT_EQ(std::string(read.applicationId), c.utf8);
    }
}

TEST(CompanionCommandLine, TheScriptPathLosesLuaAt248CharactersOrMore) {
    struct Case {
        std::size_t idLength;
        const char* ending;  // what follows the id in the path
        std::size_t idKept;
    };
    const Case cases[] = {
        {18, ".lua", 18},
        {247, ".lua", 247},  // "scripts/" + 247 + ".lua" is exactly 259 characters
        {248, ".lu", 248},
        {250, ".", 250},
        {251, "", 251},
        {255, "", 251},      // the id itself is cut
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.idLength);
        const std::string id(c.idLength, '3');
        char path[kScriptPathSize];
        FormatScriptPath(path, "scripts/%s.lua", id.c_str());
        EXPECT_EQ(std::string(path), "scripts/" + id.substr(0, c.idKept) + c.ending);
    }
}

}  // namespace
