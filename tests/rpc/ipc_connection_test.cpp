// The connection over the real transport, with this test playing the service
// through its own pipe end and frame code.

#include "rpc/ipc_connection.h"

#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "rpc/pipe_transport.h"
#include "tools/rpc_service/service_frames.h"
#include "tools/rpc_service/service_pipe.h"

namespace {

using service_frames::Encode;
using service_frames::EncodeHeader;
namespace op = service_frames;

constexpr int kWaitMs = 5000;
const std::string kReady = R"({"cmd":"DISPATCH","data":{"v":1,"user":{"id":"1"}},"evt":"READY","nonce":null})";

// What the callbacks saw; they are plain function pointers.
int connectedCalls = 0;
std::vector<std::pair<int, std::string>> disconnectReports;
ConnectionState stateSeenByReport = ConnectionState::Disconnected;
IpcConnection* observed = nullptr;

void OnConnected() { ++connectedCalls; }
void OnDisconnected(int code, const char* message) {
    disconnectReports.emplace_back(code, message);
    stateSeenByReport = observed->state.load();
}

class IpcConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        connectedCalls = 0;
        disconnectReports.clear();
        connection = observed = IpcConnection::Create("1234");
        connection->onConnected = OnConnected;
        connection->onDisconnected = OnDisconnected;
        std::string error;
        ASSERT_TRUE(service.Listen(0, error)) << error;
    }

    void TearDown() override {
        connection->onDisconnected = nullptr;
        connection->Close();
    }

    ConnectionState State() const { return connection->state.load(); }

    // Opens the pipe and reads the Handshake frame on the service's side.
    std::string StartHandshake() {
        // A Windows service end takes a new client only once it has let go
        // of the last one.
        if (service.HasClient()) service.Disconnect();
        connection->Open();
        EXPECT_EQ(State(), ConnectionState::HandshakeSent);
        EXPECT_TRUE(service.Accept(kWaitMs));
        op::Frame handshake = Receive();
        EXPECT_EQ(handshake.opcode, op::kHandshake);
        return handshake.payload;
    }

    void Connect() {
        StartHandshake();
        Send(Encode(op::kMessage, kReady));
        connection->Open();
        ASSERT_EQ(State(), ConnectionState::Connected);
        ASSERT_EQ(connectedCalls, 1);
    }

    void Send(const std::string& bytes) { ASSERT_TRUE(service.WriteAll(bytes.data(), bytes.size())); }

    op::Frame Receive() {
        op::Frame frame;
        EXPECT_EQ(op::Read(service, frame, kWaitMs), op::ReadResult::Frame);
        return frame;
    }

    // Calls Read until a message comes or the connection ends: what the
    // service wrote may take a moment to cross the pipe.
    bool ReadSoon(MessageDocument& message) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (!connection->Read(message)) {
            if (State() == ConnectionState::Disconnected || std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    void ExpectTornDown(int code, const std::string& message) {
        EXPECT_EQ(State(), ConnectionState::Disconnected);
        EXPECT_FALSE(connection->transport->pipeOpen);
        EXPECT_EQ(connection->errorCode, code);
        EXPECT_EQ(connection->errorMessage, message);
        ASSERT_EQ(disconnectReports.size(), 1u);
        EXPECT_EQ(disconnectReports[0], std::make_pair(code, message));
    }

    // Leaves this reason recorded by a connection that the service closed,
    // and forgets the callbacks it caused.
    void EndAConnectionWith(int code, const std::string& text) {
        Connect();
        Send(Encode(op::kClose, R"({"code":)" + std::to_string(code) + R"(,"message":")" + text + R"("})"));
        MessageDocument message;
        ASSERT_FALSE(ReadSoon(message));
        ASSERT_EQ(connection->errorCode, code);
        disconnectReports.clear();
        connectedCalls = 0;
    }

    IpcConnection* connection = nullptr;
    ServicePipe service;
};

TEST_F(IpcConnectionTest, HandshakeThenReadyConnects) {
    EXPECT_EQ(StartHandshake(), R"({"v":1,"client_id":"1234"})");
    EXPECT_FALSE(connection->IsConnected());
    connection->Open();  // nothing has come yet
    EXPECT_EQ(State(), ConnectionState::HandshakeSent);

    Send(Encode(op::kMessage, kReady));
    connection->Open();
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_EQ(connectedCalls, 1);
    connection->Open();
    EXPECT_EQ(connectedCalls, 1);
    EXPECT_TRUE(disconnectReports.empty());
}

TEST_F(IpcConnectionTest, ApplicationIdIsCutTo63Bytes) {
    std::string longId(70, '7');
    longId[62] = 'x';
    connection = IpcConnection::Create(longId.c_str());
    EXPECT_EQ(StartHandshake(), R"({"v":1,"client_id":")" + longId.substr(0, 63) + R"("})");
}

TEST_F(IpcConnectionTest, NoServiceLeavesItDisconnectedWithoutReport) {
    service.Stop();
    connection->Open();
    EXPECT_EQ(State(), ConnectionState::Disconnected);
    MessageDocument message;
    EXPECT_FALSE(connection->Read(message));
    EXPECT_TRUE(disconnectReports.empty());
    EXPECT_EQ(connectedCalls, 0);
}

// Each text is sent during the handshake, followed at once by a real READY:
// the first step must drop it, the second must connect.
class OnlyReadyConnectsTest : public IpcConnectionTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(OnlyReadyConnectsTest, OtherMessagesAreDropped) {
    StartHandshake();
    Send(Encode(op::kMessage, GetParam()) + Encode(op::kMessage, kReady));
    connection->Open();
    EXPECT_EQ(State(), ConnectionState::HandshakeSent);
    EXPECT_EQ(connectedCalls, 0);
    connection->Open();
    EXPECT_EQ(State(), ConnectionState::Connected);
    EXPECT_EQ(connectedCalls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, OnlyReadyConnectsTest,
    ::testing::Values(R"({"cmd":"DISPATCH","data":{"code":4000,"message":"Invalid client ID"},"evt":"ERROR"})",
                      R"({"evt":"READY"})", R"({"cmd":"DISPATCH","evt":1})", R"({"cmd":"DISPATCH"})",
                      R"({"cmd":"dispatch","evt":"READY"})", R"({"cmd":"DISPATCH","evt":"READY2"})",
                      R"({"cmd":"DISPATCH","evt":"READY\u0000"})", R"({"cmd":null,"evt":"READY"})",
                      R"(["DISPATCH","READY"])", R"({"data":{"cmd":"DISPATCH","evt":"READY"}})", "not json", "",
                      std::string(300, '[')));

struct CloseCase {
    const char* body;
    int code;
    std::string message;
    bool duringHandshake;
};

class CloseFrameTest : public IpcConnectionTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseFrameTest, RecordsTheServiceReasonAndEnds) {
    const CloseCase& c = GetParam();
    if (c.duringHandshake) {
        StartHandshake();
    } else {
        Connect();
    }
    Send(Encode(op::kClose, c.body));
    MessageDocument message;
    EXPECT_FALSE(ReadSoon(message));
    ExpectTornDown(c.code, c.message);
    op::Frame nothing;
    EXPECT_EQ(op::Read(service, nothing, kWaitMs), op::ReadResult::Gone) << "the client has closed its end";
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, CloseFrameTest,
    ::testing::Values(CloseCase{R"({"code":4000,"message":"Invalid client ID"})", 4000, "Invalid client ID", true},
                      CloseCase{R"({"code":1000,"message":"Bye"})", 1000, "Bye", false},
                      CloseCase{R"({"message":"Bye","code":-5})", -5, "Bye", false},
                      CloseCase{R"({"code":"4000","message":"Bye"})", 0, "Bye", false},
                      CloseCase{R"({"code":4000.5,"message":"Bye"})", 0, "Bye", false},
                      CloseCase{R"({"code":2147483648,"message":"Bye"})", 0, "Bye", false},
                      CloseCase{R"({"code":4001,"message":7})", 4001, "", false},
                      CloseCase{R"({"code":4002})", 4002, "", true},
                      CloseCase{R"({"message":"line\nbreak \"quoted\""})", 0, "line\nbreak \"quoted\"", false},
                      CloseCase{R"([4000,"Bye"])", 0, "", false}, CloseCase{"not json", 0, "", false},
                      CloseCase{"", 0, "", false}));

TEST_F(IpcConnectionTest, CloseMessageIsCutTo255Bytes) {
    Connect();
    Send(Encode(op::kClose, R"({"code":4003,"message":")" + std::string(300, 'm') + R"("})"));
    MessageDocument message;
    EXPECT_FALSE(ReadSoon(message));
    ExpectTornDown(4003, std::string(255, 'm'));
}

TEST_F(IpcConnectionTest, PingIsAnsweredAndTheFollowingMessageReturnedInTheSameRead) {
    Connect();
    const std::string ping = R"({"heartbeat":12})";
    Send(Encode(op::kPing, ping) + Encode(op::kPong, "{}") + Encode(op::kPing, "") +
         Encode(op::kMessage, R"({"cmd":"X","nonce":"1"})"));
    MessageDocument message;
    ASSERT_TRUE(connection->Read(message));
    EXPECT_TRUE(StringMemberEquals(message, "cmd", "X"));

    op::Frame pong = Receive();
    EXPECT_EQ(pong.opcode, op::kPong);
    EXPECT_EQ(pong.payload, ping);
    pong = Receive();
    EXPECT_EQ(pong.opcode, op::kPong);
    EXPECT_EQ(pong.payload, "");
    EXPECT_TRUE(connection->IsConnected());
}

TEST_F(IpcConnectionTest, PingWithoutMessageReturnsFalseAndStaysConnected) {
    Connect();
    Send(Encode(op::kPing, "p"));
    op::Frame pong;
    MessageDocument message;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    do {
        EXPECT_FALSE(connection->Read(message));
    } while (op::Read(service, pong, 1) == op::ReadResult::TimedOut && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(pong.opcode, op::kPong);
    EXPECT_EQ(pong.payload, "p");
    EXPECT_TRUE(connection->IsConnected());
}

TEST_F(IpcConnectionTest, MessagesThatAreNotJsonGiveAnEmptyObject) {
    Connect();
    for (const std::string& body : {std::string(), std::string("not json"), std::string(5000, '[') + std::string(5000, ']')}) {
        Send(Encode(op::kMessage, body));
        MessageDocument message;
        ASSERT_TRUE(ReadSoon(message)) << body.substr(0, 20);
        EXPECT_TRUE(message.IsObject());
        EXPECT_EQ(message.MemberCount(), 0u);
    }
    EXPECT_TRUE(connection->IsConnected());
}

TEST_F(IpcConnectionTest, LargestIncomingFrameIsRead) {
    Connect();
    const std::string head = R"({"cmd":"BIG","pad":")";
    std::string body = head + std::string(kFramePayloadCapacity - 1 - head.size() - 2, 'p') + R"("})";
    ASSERT_EQ(body.size(), 65527u);
    Send(Encode(op::kMessage, body));
    MessageDocument message;
    ASSERT_TRUE(ReadSoon(message));
    EXPECT_TRUE(StringMemberEquals(message, "cmd", "BIG"));
    EXPECT_EQ(StringMember(message, "pad")->GetStringLength(), body.size() - head.size() - 2);
}

// The receive area also holds the zero byte after the payload, so one byte
// more than the largest frame must be refused without being read.
TEST_F(IpcConnectionTest, OversizedFramesAreRefused) {
    for (std::uint32_t length : {65528u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        disconnectReports.clear();
        Connect();
        std::string frame = EncodeHeader(op::kMessage, length);
        if (length == 65528u) frame += std::string(length, 'x');
        Send(frame);
        MessageDocument message;
        EXPECT_FALSE(ReadSoon(message));
        ExpectTornDown(2, "Bad ipc frame");
        connectedCalls = 0;
    }
}

class BadOpcodeTest : public IpcConnectionTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(BadOpcodeTest, TearsDown) {
    Connect();
    Send(Encode(GetParam(), R"({"cmd":"DISPATCH","evt":"READY"})"));
    MessageDocument message;
    EXPECT_FALSE(ReadSoon(message));
    ExpectTornDown(2, "Bad ipc frame");
}

INSTANTIATE_TEST_SUITE_P(Opcodes, BadOpcodeTest, ::testing::Values(0u, 5u, 7u, 0x80000001u));

// READY delivered a byte at a time, with a connecting step after each byte:
// nothing is lost or refused on the way, and the last byte connects.
TEST_F(IpcConnectionTest, ReadyArrivingAByteAtATimeConnects) {
    StartHandshake();
    const std::string ready = Encode(op::kMessage, kReady);
    for (std::size_t i = 0; i + 1 < ready.size(); ++i) {
        Send(ready.substr(i, 1));
        connection->Open();
        ASSERT_EQ(State(), ConnectionState::HandshakeSent) << "after byte " << i;
    }
    Send(ready.substr(ready.size() - 1));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!connection->IsConnected() && State() != ConnectionState::Disconnected &&
           std::chrono::steady_clock::now() < deadline) {
        connection->Open();
    }
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_EQ(connectedCalls, 1);
    EXPECT_TRUE(disconnectReports.empty());
}

// Two 60 KB pings and a message, cut into pieces at these byte offsets of the
// whole stream; every piece is followed by a Read. Each frame is completed
// from its pieces: both pongs carry their ping whole, and the message comes.
class FramesInPiecesTest : public IpcConnectionTest, public ::testing::WithParamInterface<std::vector<std::size_t>> {};

TEST_P(FramesInPiecesTest, AreCompletedOnLaterReads) {
    Connect();
    const std::string first(60000, 'a'), second(60000, 'b');
    const std::string stream =
        Encode(op::kPing, first) + Encode(op::kPing, second) + Encode(op::kMessage, R"({"cmd":"LAST"})");
    std::vector<std::size_t> cuts = GetParam();
    cuts.push_back(stream.size());
    std::size_t sent = 0;
    bool messageRead = false;
    for (std::size_t cut : cuts) {
        Send(stream.substr(sent, cut - sent));
        sent = cut;
        MessageDocument message;
        messageRead = cut == stream.size() ? ReadSoon(message) : connection->Read(message);
        ASSERT_TRUE(connection->IsConnected()) << "after " << cut << " bytes: " << connection->errorMessage;
        ASSERT_EQ(messageRead, cut == stream.size()) << "after " << cut << " bytes";
        if (messageRead) EXPECT_TRUE(StringMemberEquals(message, "cmd", "LAST"));
    }
    op::Frame pong = Receive();
    EXPECT_EQ(pong.opcode, op::kPong);
    EXPECT_EQ(pong.payload, first);
    pong = Receive();
    EXPECT_EQ(pong.opcode, op::kPong);
    EXPECT_EQ(pong.payload, second);
    EXPECT_TRUE(disconnectReports.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, FramesInPiecesTest,
    ::testing::Values(std::vector<std::size_t>{4},                     // inside the first header
                      std::vector<std::size_t>{8},                     // the first header alone
                      std::vector<std::size_t>{30000},                 // inside the first payload
                      std::vector<std::size_t>{60008, 60012, 90000},   // the second frame in three pieces
                      std::vector<std::size_t>{9, 10, 11, 65536, 120016, 120020}));

// A payload whose header has come waits for its rest; a service that goes
// before sending it leaves a partial frame.
TEST_F(IpcConnectionTest, PeerGoingInsideAPayloadIsPartialData) {
    Connect();
    Send(EncodeHeader(op::kMessage, 10) + "12345");
    MessageDocument message;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (std::chrono::steady_clock::now() < until) {
        ASSERT_FALSE(connection->Read(message));
        ASSERT_TRUE(connection->IsConnected());
    }
    service.Stop();
    EXPECT_FALSE(ReadSoon(message));
    ExpectTornDown(2, "Partial data in frame");
}

// A service that goes after part of a header: the pipe is found closed at
// once, on both systems (a named pipe keeps reporting the part as data still
// to come, so it has to be read for the break to show).
class PeerGoingInsideAHeaderTest : public IpcConnectionTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(PeerGoingInsideAHeaderTest, IsAClosedPipe) {
    Connect();
    Send(EncodeHeader(op::kMessage, 10).substr(0, GetParam()));
    MessageDocument message;
    for (int read = 0; read < 10; ++read) {
        ASSERT_FALSE(connection->Read(message));
        ASSERT_TRUE(connection->IsConnected());
    }
    service.Stop();
    EXPECT_FALSE(ReadSoon(message));
    ExpectTornDown(1, "Pipe closed");
}

INSTANTIATE_TEST_SUITE_P(HeaderBytes, PeerGoingInsideAHeaderTest, ::testing::Range<std::size_t>(1, 8));

// A service that sends but never reads fills the pipe: a write cannot go on
// for ever, so the connection ends with a reason of its own once the
// transport's time for a write has passed.
TEST_F(IpcConnectionTest, AWriteTheServiceNeverTakesEndsTheConnection) {
    Connect();
    const std::string request(16384, 'w');
    auto writer = std::async(std::launch::async, [&] {
        while (connection->Write(request.data(), request.size())) {
        }
    });
    if (writer.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        service.Stop();  // lets the blocked write fail, so that the test can end
        writer.get();
        FAIL() << "the write was still blocked after 60 s";
    }
    ExpectTornDown(1, "Write timed out");
}

TEST_F(IpcConnectionTest, ServiceClosingThePipeIsRecordedAndReported) {
    Connect();
    service.Disconnect();
    MessageDocument message;
    EXPECT_FALSE(ReadSoon(message));
    ExpectTornDown(1, "Pipe closed");
    EXPECT_EQ(stateSeenByReport, ConnectionState::Connected) << "the report comes before the state changes";
    EXPECT_FALSE(connection->Read(message)) << "while disconnected";
}

TEST_F(IpcConnectionTest, WriteSendsOneMessageFrame) {
    Connect();
    const std::string request = R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":1}})";
    ASSERT_TRUE(connection->Write(request.data(), request.size()));
    op::Frame frame = Receive();
    EXPECT_EQ(frame.opcode, op::kMessage);
    EXPECT_EQ(frame.payload, request);

    std::string largest(kFramePayloadCapacity, 'z');
    ASSERT_TRUE(connection->Write(largest.data(), largest.size()));
    EXPECT_EQ(Receive().payload, largest);
    EXPECT_FALSE(connection->Write(largest.data(), largest.size() + 1)) << "beyond the frame, nothing is sent";
    EXPECT_TRUE(connection->IsConnected());
}

// A failed write reports whatever the connection recorded last: here the
// reason an earlier connection ended.
TEST_F(IpcConnectionTest, FailedWriteReportsTheRecordedError) {
    EndAConnectionWith(4004, "Earlier");
    Connect();
    service.Stop();
    bool failed = false;
    for (int attempt = 0; attempt < 100 && !failed; ++attempt) failed = !connection->Write("{}", 2);
    EXPECT_TRUE(failed);
    ExpectTornDown(4004, "Earlier");
}

TEST_F(IpcConnectionTest, FailedPongClosesAndTheNextHeaderFindsThePipeClosed) {
    EndAConnectionWith(4005, "Earlier");
    Connect();
    Send(Encode(op::kPing, "p"));
    service.Stop();
    MessageDocument message;
    EXPECT_FALSE(ReadSoon(message));
    EXPECT_EQ(State(), ConnectionState::Disconnected);
    ASSERT_EQ(disconnectReports.size(), 1u);
    // The pong could not be written: that reports the earlier record; the
    // next header read then records the closed pipe without a second report.
    EXPECT_EQ(disconnectReports[0], std::make_pair(4005, std::string("Earlier")));
    EXPECT_EQ(connection->errorCode, 1);
    EXPECT_STREQ(connection->errorMessage, "Pipe closed");
}

TEST_F(IpcConnectionTest, DestroyReportsAndForgets) {
    Connect();
    IpcConnection* owner = connection;
    IpcConnection::Destroy(owner);
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(connection->transport, nullptr);
    EXPECT_EQ(State(), ConnectionState::Disconnected);
    EXPECT_EQ(disconnectReports.size(), 1u);
    connection = IpcConnection::Create("1234");
}

}  // namespace
