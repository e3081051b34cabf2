// The companion end to end, with real processes: the demo game, the
// companion started from the assembled companion directory, and the reference
// RPC service, whose one-line-per-frame output the tests read.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const kDemoApplicationId = "300000000000000001";
const char* const kFailingApplicationId = "300000000000000002";

fs::path CompanionDirectory() { return fs::path(PathBesideThisProgram("../dist/8a57342e5e")); }
std::string CompanionProgram() { return ProgramBesideThisOne("../dist/8a57342e5e/CorvaneTallowin_x64"); }

// The reference service, read line by line.
class Service {
public:
    ~Service() { process_.Kill(); }
    void Start() {
        ASSERT_TRUE(process_.Start(ProgramBesideThisOne("../tools/rpc_service/rpc_service"), {}));
        std::string line;
        ASSERT_TRUE(process_.ReadLine(line));
        ASSERT_EQ(line.rfind("listening ", 0), 0u) << line;
    }
    // The next line that starts with `prefix`, or "" when none comes within
    // the time-out or the output ends.
    std::string Next(const std::string& prefix, std::chrono::milliseconds timeout = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::string line;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !process_.ReadLine(line, static_cast<std::uint32_t>(left.count()))) return "";
            if (line.rfind(prefix, 0) == 0) return line;
        }
    }
    // The next presence request; polls come every 15 seconds.
    std::string NextPresence() { return Next("frame 1 {\"nonce\":"); }
    // Everything the service still prints until it is stopped.
    std::vector<std::string> StopAndCollect() {
        process_.Kill();
        std::vector<std::string> rest;
        std::string line;
        while (process_.ReadLine(line)) rest.push_back(line);
        return rest;
    }
    ChildProcess& Process() { return process_; }

private:
    ChildProcess process_;
};

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
    int CompanionExitCode(std::uint32_t timeoutMs) {
        int exitCode = -1;
        return companion_.Wait(timeoutMs, exitCode) ? exitCode : -1;
    }

    fs::path original_;
    Service service_;
    ChildProcess game_;
    ChildProcess companion_;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(CompanionEndToEnd, PublishesAfterReadyFollowsTheGameAndEndsWithIt) {
    service_.Start();
    StartGame();
    StartCompanion({std::to_string(game_.Pid()), kDemoApplicationId});

    const std::string handshake = service_.Next("frame 0 ");
    EXPECT_TRUE(Has(handshake, std::string("\"client_id\":\"") + kDemoApplicationId + "\"")) << handshake;
    EXPECT_NE(service_.Next("sent 1 "), "");  // READY
    const std::string first = service_.NextPresence();
    EXPECT_TRUE(Has(first, "\"cmd\":\"SET_ACTIVITY\"")) << first;
    EXPECT_TRUE(Has(first, "\"pid\":" + std::to_string(companion_.Pid()))) << first;
    EXPECT_TRUE(Has(first, "\"details\":\"Exploring Harbor\"")) << first;
    EXPECT_TRUE(Has(first, "\"state\":\"Level 1, party of 1/4\"")) << first;

    // The change is published by the next poll, one interval later.
    StepGame(2);
    const std::string second = service_.NextPresence();
    EXPECT_TRUE(Has(second, "\"details\":\"Exploring Old Quarry\"")) << second;
    EXPECT_TRUE(Has(second, "\"small_text\":\"Score 2800\"")) << second;

    // The game ends: the companion ends at once with 0, without another poll.
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(5000), 0);
    for (const std::string& line : service_.StopAndCollect()) {
        EXPECT_FALSE(line.rfind("frame ", 0) == 0 && Has(line, "SET_ACTIVITY")) << line;
    }
}

TEST_F(CompanionEndToEnd, AFailingScriptClearsThePresence) {
    std::ofstream(CompanionDirectory() / "scripts" / (std::string(kFailingApplicationId) + ".lua"))
        << "function get_presence() error('no game state') end\n";
    service_.Start();
    StartGame();
    StartCompanion({std::to_string(game_.Pid()), kFailingApplicationId});

    const std::string cleared = service_.NextPresence();
    EXPECT_TRUE(Has(cleared, "\"args\":{\"pid\":" + std::to_string(companion_.Pid()) + "}}")) << cleared;
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(5000), 0);
    fs::remove(CompanionDirectory() / "scripts" / (std::string(kFailingApplicationId) + ".lua"));
}

TEST_F(CompanionEndToEnd, ARestartedServiceReceivesTheLatestPresenceAgain) {
    service_.Start();
    StartGame();
    StartCompanion({std::to_string(game_.Pid()), kDemoApplicationId});
    const std::string first = service_.NextPresence();
    ASSERT_TRUE(Has(first, "Exploring Harbor")) << first;
    service_.StopAndCollect();

    Service restarted;
    restarted.Start();
    EXPECT_NE(restarted.Next("frame 0 "), "");
    const std::string again = restarted.NextPresence();
    EXPECT_TRUE(Has(again, "\"details\":\"Exploring Harbor\"")) << again;
    ASSERT_TRUE(game_.WriteLine("exit"));
    EXPECT_EQ(CompanionExitCode(5000), 0);
    restarted.StopAndCollect();
}

TEST_F(CompanionEndToEnd, BadCommandLinesEndAtOnceWithZeroAndConnectNothing) {
    service_.Start();
    StartGame();
    const std::string game = std::to_string(game_.Pid());
    const std::vector<std::vector<std::string>> commandLines = {
        {},
        {game},
        {"0", kDemoApplicationId},
        {"not-a-number", kDemoApplicationId},
        {"2147483647", kDemoApplicationId},  // names no process
        {game, "999999999999999999"},         // no script for this id
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

}  // namespace
