// The companion end to end, with real processes: the demo game, the
// companion started from the assembled companion directory, and the reference
// RPC service, whose one-line-per-frame output the tests read. The same tests
// run against the sanitized build and against the release build that ships.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/private_script_folder.h"
#include "support/service_log.h"

namespace {

namespace fs = std::filesystem;

const char* const kDemoApplicationId = "300000000000000001";
const char* const kFailingApplicationId = "300000000000000002";
const char* const kHugeReadApplicationId = "300000000000000003";

fs::path CompanionDirectory() { return fs::path(PathBesideThisProgram("../dist/8a57342e5e")); }
// This build's own companion: CorvaneTallowin_x64 or CorvaneTallowin_x86.exe.
std::string CompanionProgram() { return PathBesideThisProgram(std::string("../dist/8a57342e5e/") + COMPANION_FILE_NAME); }

bool StartsWith(const std::string& line, const std::string& prefix) { return line.rfind(prefix, 0) == 0; }

// The service's next line that starts with `prefix`, or "" when none comes in time.
std::string Next(ServiceLog& service, const std::string& prefix) {
    return service.WaitFor([&](const std::string& line) { return StartsWith(line, prefix); });
}

// The next presence request; polls come every 15 seconds.
std::string NextPresence(ServiceLog& service) { return Next(service, "frame 1 {\"nonce\":"); }

class CompanionEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        // The companion finds its script relative to its working directory,
        // which the addon sets to the companion directory; children inherit ours.
        original_ = fs::current_path();
        fs::current_path(CompanionDirectory());
    }
    void TearDown() override { fs::current_path(original_); }

    void StartGame() {
        ASSERT_TRUE(game_.Start(ProgramBesideThisOne("../tools/demo_game/demo_game"),
                                {"--step-ms", "0", "--seconds", "120"}));
        std::string line;
        ASSERT_TRUE(game_.ReadLine(line));
    }
    void StepGame(int steps) {
        std::string line;
        for (int i = 0; i < steps; ++i) {
            ASSERT_TRUE(game_.WriteLine("step"));
            ASSERT_TRUE(game_.ReadLine(line));
        }
    }
    void StartCompanion(const std::vector<std::string>& arguments) {
        ASSERT_TRUE(companion_.Start(CompanionProgram(), arguments));
    }
    // The companion runs in the script's folder, where it finds that script.
    void StartCompanionWith(const PrivateScriptFolder& script, const std::vector<std::string>& arguments) {
        fs::current_path(script.Folder());
        StartCompanion(arguments);
    }
    int CompanionExitCode(std::uint32_t timeoutMs) {
        int exitCode = -1;
        return companion_.Wait(timeoutMs, exitCode) ? exitCode : -1;
    }

    fs::path original_;
    ServiceLog service_;
    ChildProcess game_;
    ChildProcess companion_;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(CompanionEndToEnd, PublishesAfterReadyFollowsTheGameAndEndsWithIt) {
    ASSERT_TRUE(service_.Start({}));
    StartGame();
    StartCompanion({std::to_string(game_.Pid()), kDemoApplicationId});

    const std::string handshake = Next(service_, "frame 0 ");
    EXPECT_TRUE(Has(handshake, std::string("\"client_id\":\"") + kDemoApplicationId + "\"")) << handshake;
    EXPECT_NE(Next(service_, "sent 1 "), "");  // READY
    const std::string first = NextPresence(service_);
    EXPECT_TRUE(Has(first, "\"cmd\":\"SET_ACTIVITY\"")) << first;
    EXPECT_TRUE(Has(first, "\"pid\":" + std::to_string(companion_.Pid()))) << first;
    EXPECT_TRUE(Has(first, "\"details\":\"Exploring Harbor\"")) << first;
    EXPECT_TRUE(Has(first, "\"state\":\"Level 1, party of 1/4\"")) << first;

    // The change is published by the next poll, one interval later.
    StepGame(2);
    const std::string second = NextPresence(service_);
    EXPECT_TRUE(Has(second, "\"details\":\"Exploring Old Quarry\"")) << second;
    EXPECT_TRUE(Has(second, "\"small_text\":\"Score 2800\"")) << second;

    // The game ends: the companion ends at once with 0, without another poll.
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(5000), 0);
    for (const std::string& line : service_.StopAndCollect()) {
        EXPECT_FALSE(StartsWith(line, "frame ") && Has(line, "SET_ACTIVITY")) << line;
    }
}

TEST_F(CompanionEndToEnd, AFailingScriptClearsThePresence) {
    const PrivateScriptFolder script(std::string(kFailingApplicationId) + ".lua",
                        "function get_presence() error('no game state') end\n");
    ASSERT_TRUE(service_.Start({}));
    StartGame();
    StartCompanionWith(script, {std::to_string(game_.Pid()), kFailingApplicationId});

    const std::string cleared = NextPresence(service_);
    EXPECT_TRUE(Has(cleared, "\"args\":{\"pid\":" + std::to_string(companion_.Pid()) + "}}")) << cleared;
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(5000), 0);
}

TEST_F(CompanionEndToEnd, AReadOfASizeThatCannotBeAllocatedGivesNilAndThePresenceStillComes) {
    // More than either build can allocate, yet not refused for its size alone.
    const PrivateScriptFolder script(std::string(kHugeReadApplicationId) + ".lua", R"(
        function get_presence()
          local size = Architecture == "x86" and 0xFFFFFF00 or 1 << 40
          return { details = Read(0x10000, size) == nil and "Read gave nil" or "Read gave bytes" }
        end
    )");
    ASSERT_TRUE(service_.Start({}));
    StartGame();
    StartCompanionWith(script, {std::to_string(game_.Pid()), kHugeReadApplicationId});

    const std::string presence = NextPresence(service_);
    EXPECT_TRUE(Has(presence, "\"details\":\"Read gave nil\"")) << presence;
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(5000), 0);
}

TEST_F(CompanionEndToEnd, ReadsItsCommandLineLikeTheRuntimeAndIgnoresExtraArguments) {
    // A process id with a leading blank, a sign and trailing characters; the
    // longest application id, whose script path just keeps its ".lua", and of
    // which the connection keeps 63 bytes; two extra arguments.
    const std::string applicationId(247, '3');
    const PrivateScriptFolder script(applicationId + ".lua",
                        "function get_presence() return { details = 'longest id' } end\n");
    ASSERT_TRUE(service_.Start({}));
    StartGame();
    StartCompanionWith(script, {" +" + std::to_string(game_.Pid()) + "x", applicationId, "extra", "arguments"});

    const std::string handshake = Next(service_, "frame 0 ");
    EXPECT_TRUE(Has(handshake, "\"client_id\":\"" + applicationId.substr(0, 63) + "\"")) << handshake;
    const std::string presence = NextPresence(service_);
    EXPECT_TRUE(Has(presence, "\"details\":\"longest id\"")) << presence;
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(5000), 0);
}

TEST_F(CompanionEndToEnd, ARestartedServiceReceivesTheLatestPresenceAgain) {
    ASSERT_TRUE(service_.Start({}));
    StartGame();
    StartCompanion({std::to_string(game_.Pid()), kDemoApplicationId});
    const std::string first = NextPresence(service_);
    ASSERT_TRUE(Has(first, "Exploring Harbor")) << first;
    service_.StopAndCollect();

    ServiceLog restarted;
    ASSERT_TRUE(restarted.Start({}));
    EXPECT_NE(Next(restarted, "frame 0 "), "");
    const std::string again = NextPresence(restarted);
    EXPECT_TRUE(Has(again, "\"details\":\"Exploring Harbor\"")) << again;
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(5000), 0);
    restarted.StopAndCollect();
}

TEST_F(CompanionEndToEnd, BadCommandLinesEndAtOnceWithZeroAndConnectNothing) {
    ASSERT_TRUE(service_.Start({}));
    StartGame();
    const std::string game = std::to_string(game_.Pid());
    const std::vector<std::vector<std::string>> commandLines = {
        {},
        {game},
        {"0", kDemoApplicationId},
        {"not-a-number", kDemoApplicationId},
        {"2147483647", kDemoApplicationId},  // names no process
        {game, "999999999999999999"},         // no script for this id
        // Ids that would name a file outside the scripts directory, here the
        // demo script itself by a detour, on either kind of system.
        {game, std::string("../scripts/") + kDemoApplicationId},
        {game, std::string("..\\scripts\\") + kDemoApplicationId},
        {game, std::string("C:") + kDemoApplicationId},
        {game, ".."},
    };
    for (const std::vector<std::string>& arguments : commandLines) {
        ChildProcess companion;
        ASSERT_TRUE(companion.Start(CompanionProgram(), arguments));
        int exitCode = -1;
        EXPECT_TRUE(companion.Wait(5000, exitCode)) << arguments.size() << " arguments";
        EXPECT_EQ(exitCode, 0);
    }
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_TRUE(service_.StopAndCollect().empty());  // no client ever connected
}

// The id reaches the Windows companion as UTF-16 and names its script in
// UTF-8: characters beyond Latin-1 (and beyond the BMP) load the script of
// exactly that name, not another one (such as ".lua", the empty id's).
TEST_F(CompanionEndToEnd, AnIdBeyondLatin1LoadsTheScriptOfThatName) {
    const std::string applicationId = "300000000000000004-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80";
    const PrivateScriptFolder script(applicationId + ".lua",
                                     "function get_presence() return { details = 'found by name' } end\n");
    std::ofstream(script.Folder() / "scripts" / ".lua") << "function get_presence() return { details = 'decoy' } end\n";
    ASSERT_TRUE(service_.Start({}));
    StartGame();
    StartCompanionWith(script, {std::to_string(game_.Pid()), applicationId});

    const std::string presence = NextPresence(service_);
    EXPECT_TRUE(Has(presence, "\"details\":\"found by name\"")) << presence;
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(5000), 0);
}

#ifdef _WIN32
constexpr bool kDeviceNamesCanBeFiles = false;  // there they name devices
#else
constexpr bool kDeviceNamesCanBeFiles = true;
#endif

// Ids that the application-id rule refuses run no script, although a file
// of their name is there to load (the rule's own test has the full table).
TEST_F(CompanionEndToEnd, IdsTheRuleRefusesEndAtOnceThoughTheirScriptExists) {
    const std::string tooLong(248, '3');
    const PrivateScriptFolder script(tooLong + ".lu", "function get_presence() return { details = 'cut path' } end\n");
    std::vector<std::string> refused = {tooLong, "x.", "x "};
    if (kDeviceNamesCanBeFiles) refused.insert(refused.end(), {"CON", "com\xC2\xB9", "nul.x", "a\x01" "b"});
    for (const std::string& id : refused) {
        if (id != tooLong) {
            std::ofstream(script.Folder() / "scripts" / fs::u8path(id + ".lua"))
                << "function get_presence() return { details = 'loaded' } end\n";
        }
    }
    ASSERT_TRUE(service_.Start({}));
    StartGame();
    fs::current_path(script.Folder());
    for (const std::string& id : refused) {
        SCOPED_TRACE(::testing::PrintToString(id));
        ChildProcess companion;
        ASSERT_TRUE(companion.Start(CompanionProgram(), {std::to_string(game_.Pid()), id}));
        int exitCode = -1;
        EXPECT_TRUE(companion.Wait(5000, exitCode));
        EXPECT_EQ(exitCode, 0);
    }
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_TRUE(service_.StopAndCollect().empty());  // no client ever connected
}

// A service that sends READY, then floods pings and reads nothing: the
// companion's pongs (16 KiB each, so that few do it) fill the pipe and a
// write blocks. The companion still ends with its game.
TEST_F(CompanionEndToEnd, EndsWithItsGameWhenTheServiceStopsReading) {
    ASSERT_TRUE(service_.Start({"--flood-pings", "16384"}));
    StartGame();
    StartCompanion({std::to_string(game_.Pid()), kDemoApplicationId});
    ASSERT_NE(Next(service_, "flooding pings"), "");
    // READY is read within 1.5 s; the pongs then fill the pipe at once.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(15000), 0) << "the companion outlived its game";
}

}  // namespace
