// The reference service as a process, driven by the client's own connection:
// what it prints, what it answers and what its options make it do.

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "rpc/ipc_connection.h"
#include "rpc/pipe_transport.h"
#include "rpc/serialization.h"
#include "support/child_process.h"

namespace {

constexpr int kWaitMs = 10000;
const std::string kReadyLine =
    R"(sent 1 {"cmd":"DISPATCH","data":{"v":1,"config":{"environment":"development"},)"
    R"("user":{"id":"1","username":"rpc_service","discriminator":"0001","avatar":null}},"evt":"READY","nonce":null})";

std::vector<std::pair<int, std::string>> disconnectReports;

// The program's exit code, or -1 when it is still running after the wait.
int ExitCode(ChildProcess& program) {
    int code = -1;
    return program.Wait(kWaitMs, code) ? code : -1;
}
void OnDisconnected(int code, const char* message) { disconnectReports.emplace_back(code, message); }

// What the service prints for the presence that SendPresence sends, and for its answer.
std::string PresenceLine(int nonce) {
    return R"(frame 1 {"nonce":")" + std::to_string(nonce) +
           R"(","cmd":"SET_ACTIVITY","args":{"pid":4242,"activity":{"state":"In a \"match\"\n",)"
           R"("party":{"size":[1,4]},"instance":false}}})";
}
std::string AnswerLine(int nonce) {
    return R"(sent 1 {"cmd":"SET_ACTIVITY","data":null,"evt":null,"nonce":")" + std::to_string(nonce) + R"("})";
}

class RpcServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        disconnectReports.clear();
        connection = IpcConnection::Create("1234");
        connection->onConnected = nullptr;
        connection->onDisconnected = OnDisconnected;
    }

    void TearDown() override {
        connection->onDisconnected = nullptr;
        connection->Close();
        service.Kill();
    }

    // Starts the service and waits until it listens.
    void StartService(const std::vector<std::string>& options) {
        ASSERT_TRUE(service.Start(RPC_SERVICE_PATH, options));
        std::string line;
        ASSERT_TRUE(service.ReadLine(line, kWaitMs));
        EXPECT_EQ(line.rfind("listening ", 0), 0u) << line;
        EXPECT_NE(line.find("corvane-ipc-"), std::string::npos) << line;
    }

    void ExpectLine(const std::string& expected) {
        std::string line;
        ASSERT_TRUE(service.ReadLine(line, kWaitMs)) << "waiting for: " << expected;
        EXPECT_EQ(line, expected);
    }

    // Steps the connection until it leaves the handshake.
    void Connect() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        do {
            connection->Open();
            if (connection->IsConnected()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } while (std::chrono::steady_clock::now() < deadline);
        ASSERT_TRUE(connection->IsConnected());
        ExpectLine("connected");
        ExpectLine(R"(frame 0 {"v":1,"client_id":"1234"})");
        ExpectLine(kReadyLine);
    }

    bool ReadSoon(MessageDocument& message) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (!connection->Read(message)) {
            if (!connection->IsConnected() || std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    std::string SendPresence(std::int32_t nonce) {
        RichPresence presence;
        presence.state = "In a \"match\"\n";
        presence.partyCount = 1;
        presence.partyCapacity = 4;
        char request[16384];
        std::size_t length = build_set_activity(request, sizeof request, nonce, 4242, &presence);
        EXPECT_TRUE(connection->Write(request, length));
        return std::string(request, length);
    }

    IpcConnection* connection = nullptr;
    ChildProcess service;
};

TEST_F(RpcServiceTest, PrintsTheHandshakeAndEachFrameAndAnswersRequests) {
    StartService({"--clients", "1"});
    Connect();
    std::string request = SendPresence(1);
    ExpectLine(PresenceLine(1));
    ExpectLine(AnswerLine(1));
    MessageDocument answer;
    ASSERT_TRUE(ReadSoon(answer));
    EXPECT_TRUE(StringMemberEquals(answer, "nonce", "1"));

    ASSERT_TRUE(connection->Write("{\"cmd\":\"NO_NONCE\"}", 18));
    ExpectLine(R"(frame 1 {"cmd":"NO_NONCE"})");
    connection->Close();
    ExpectLine("disconnected");
    EXPECT_EQ(ExitCode(service), 0);
}

TEST_F(RpcServiceTest, ServesClientsOneAfterAnother) {
    StartService({"--clients", "2"});
    Connect();
    connection->Close();
    ExpectLine("disconnected");
    Connect();
    SendPresence(2);
    ExpectLine(PresenceLine(2));
    ExpectLine(AnswerLine(2));
    connection->Close();
    ExpectLine("disconnected");
    EXPECT_EQ(ExitCode(service), 0);
}

TEST_F(RpcServiceTest, PingEventsAndErrorAnswers) {
    StartService({"--ping", "{\"hb\":7}", "--event", "ACTIVITY_JOIN", "{\"secret\":\"s3\"}", "--send", "{\"x\":1}",
                  "--error", "4000", "Invalid \"payload\""});
    Connect();
    ExpectLine(R"(sent 3 {"hb":7})");
    ExpectLine(R"(sent 1 {"cmd":"DISPATCH","data":{"secret":"s3"},"evt":"ACTIVITY_JOIN"})");
    ExpectLine(R"(sent 1 {"x":1})");

    MessageDocument event;
    ASSERT_TRUE(ReadSoon(event));  // answers the ping on the way
    EXPECT_TRUE(StringMemberEquals(event, "evt", "ACTIVITY_JOIN"));
    ExpectLine(R"(frame 4 {"hb":7})");
    MessageDocument sent;
    ASSERT_TRUE(ReadSoon(sent));
    EXPECT_EQ(Member(sent, "x")->GetInt(), 1);

    SendPresence(3);
    ExpectLine(PresenceLine(3));
    ExpectLine(R"(sent 1 {"cmd":"SET_ACTIVITY","data":{"code":4000,"message":"Invalid \"payload\""},"evt":"ERROR","nonce":"3"})");
    MessageDocument error;
    ASSERT_TRUE(ReadSoon(error));
    EXPECT_TRUE(StringMemberEquals(error, "evt", "ERROR"));
    const MessageValue* data = Member(error, "data");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Member(*data, "code")->GetInt(), 4000);
    EXPECT_TRUE(StringMemberEquals(*data, "message", "Invalid \"payload\""));
}

TEST_F(RpcServiceTest, CloseFrameAfterTheGivenNumberOfRequests) {
    StartService({"--close-after", "1", "4001", "Gone for now"});
    Connect();
    SendPresence(4);
    MessageDocument message;
    ASSERT_TRUE(ReadSoon(message));
    EXPECT_TRUE(StringMemberEquals(message, "nonce", "4")) << "the request is answered first";
    EXPECT_FALSE(ReadSoon(message));
    ASSERT_EQ(disconnectReports.size(), 1u);
    EXPECT_EQ(disconnectReports[0], std::make_pair(4001, std::string("Gone for now")));
}

TEST_F(RpcServiceTest, HangupRightAfterReady) {
    StartService({"--hangup-after", "0"});
    Connect();
    MessageDocument message;
    EXPECT_FALSE(ReadSoon(message));
    ASSERT_EQ(disconnectReports.size(), 1u);
    EXPECT_EQ(disconnectReports[0], std::make_pair(1, std::string("Pipe closed")));
    ExpectLine("disconnected");
}

// Pings without end, and the pongs never read: the client's pongs fill the
// pipe until a write cannot finish in time, and the connection ends there.
TEST_F(RpcServiceTest, FloodOfPingsThatNeverReadsThePongs) {
    StartService({"--flood-pings", "16384", "--clients", "1"});
    Connect();
    ExpectLine("flooding pings");
    MessageDocument message;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (connection->IsConnected() && std::chrono::steady_clock::now() < deadline) {
        EXPECT_FALSE(connection->Read(message)) << "only pings come";
    }
    ASSERT_EQ(disconnectReports.size(), 1u);
    EXPECT_EQ(disconnectReports[0], std::make_pair(1, std::string("Write timed out")));
    ExpectLine("disconnected");
    EXPECT_EQ(ExitCode(service), 0);
}

TEST_F(RpcServiceTest, ReadyCanBeDelayedOrWithheld) {
    StartService({"--ready-delay", "400", "--clients", "1"});
    auto started = std::chrono::steady_clock::now();
    connection->Open();
    ASSERT_EQ(connection->state.load(), ConnectionState::HandshakeSent);
    // What comes before READY is printed as it comes, and not answered.
    ASSERT_TRUE(connection->Write("{\"early\":1}", 11));
    ExpectLine("connected");
    ExpectLine(R"(frame 0 {"v":1,"client_id":"1234"})");
    ExpectLine(R"(frame 1 {"early":1})");
    ExpectLine(kReadyLine);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
    connection->Close();
    service.Kill();
    disconnectReports.clear();

    ChildProcess silent;
    ASSERT_TRUE(silent.Start(RPC_SERVICE_PATH, {"--no-ready", "--close-after", "0", "4002", "No READY for you"}));
    std::string line;
    ASSERT_TRUE(silent.ReadLine(line, kWaitMs));
    MessageDocument message;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (disconnectReports.empty() && std::chrono::steady_clock::now() < deadline) {
        connection->Open();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(connection->IsConnected());
    ASSERT_EQ(disconnectReports.size(), 1u);
    EXPECT_EQ(disconnectReports[0], std::make_pair(4002, std::string("No READY for you")));
    silent.Kill();
}

TEST_F(RpcServiceTest, StallReadsNothingForAWhileThenGoesOn) {
    StartService({"--stall-after", "1", "600"});
    Connect();
    SendPresence(5);
    ExpectLine(PresenceLine(5));
    ExpectLine(AnswerLine(5));
    auto stalled = std::chrono::steady_clock::now();
    SendPresence(6);
    ExpectLine(PresenceLine(6));
    // The stall began just before the answer above was read.
    EXPECT_GE(std::chrono::steady_clock::now() - stalled, std::chrono::milliseconds(300));
    ExpectLine(AnswerLine(6));
}

TEST_F(RpcServiceTest, StallThenHangupWhenBothNameTheSameRequest) {
    StartService({"--stall-after", "1", "600", "--hangup-after", "1"});
    Connect();
    SendPresence(7);
    ExpectLine(PresenceLine(7));
    ExpectLine(AnswerLine(7));
    auto stalled = std::chrono::steady_clock::now();
    MessageDocument answer;
    ASSERT_TRUE(ReadSoon(answer));  // a Windows service end lets go only once its answers are read
    ExpectLine("disconnected");
    EXPECT_GE(std::chrono::steady_clock::now() - stalled, std::chrono::milliseconds(300));
}

TEST_F(RpcServiceTest, CommandLineErrors) {
    StartService({"--pipe", "4"});
    ChildProcess second;
    ASSERT_TRUE(second.Start(RPC_SERVICE_PATH, {"--pipe", "4"}));
    EXPECT_EQ(ExitCode(second), 1) << "the name is held";

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--pipe", "10"}, {"--close-after", "1", "x", "m"}, {"--error", "1"}, {"--stall-after", "1"},
             {"--stall-after", "1", "-5"}, {"--web"}, {"--web", "65536"}, {"--assets", "images"}}) {
        ChildProcess bad;
        ASSERT_TRUE(bad.Start(RPC_SERVICE_PATH, wrong));
        EXPECT_EQ(ExitCode(bad), 2) << wrong[0];
    }

    ChildProcess help;
    ASSERT_TRUE(help.Start(RPC_SERVICE_PATH, {"--help"}));
    std::string line;
    ASSERT_TRUE(help.ReadLine(line, kWaitMs));
    EXPECT_EQ(line, "Usage: rpc_service [options]");
    EXPECT_EQ(ExitCode(help), 0);
}

}  // namespace
