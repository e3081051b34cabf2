// The client against the reference service, as a host with event handlers
// uses it: subscriptions for the installed handlers, events and errors
// delivered by rpc_run_callbacks, join replies and their limit, a second
// initialise that replaces the handlers, a reconnection and a loss that
// still stands, each reported in its place. The client is process-wide
// state, so this is one scenario in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "pipe_filler.h"
#include "rpc/pipe_transport.h"
#include "rpc/presence_client.h"
#include "support/service_log.h"

namespace {

std::vector<std::string> delivered;  // what the handlers were given, in order

void OnReady() { delivered.push_back("ready"); }
void OnDisconnected(int code, const char* message) {
    delivered.push_back("disconnected " + std::to_string(code) + " " + message);
}
void OnError(int code, const char* message) { delivered.push_back("error " + std::to_string(code) + " " + message); }
void OnJoin(const char* secret) { delivered.push_back(std::string("join ") + secret); }
void OnJoinRequest(const JoinRequestUser* user) {
    delivered.push_back(std::string("join request ") + user->id + " " + user->username + " [" + user->discriminator +
                        "] [" + user->avatar + "]");
}
// The second table, installed by a second initialise: no join handlers, a
// spectate handler.
void OnReadyAgain() { delivered.push_back("again: ready"); }
void OnDisconnectedAgain(int code, const char* message) {
    delivered.push_back("again: disconnected " + std::to_string(code) + " " + message);
}
void OnErrorAgain(int code, const char* message) {
    delivered.push_back("again: error " + std::to_string(code) + " " + message);
}
void OnSpectateAgain(const char* secret) { delivered.push_back(std::string("again: spectate ") + secret); }

const EventHandlers kHandlers = {OnReady, OnDisconnected, OnError, OnJoin, nullptr, OnJoinRequest};
const EventHandlers kOtherHandlers = {OnReadyAgain, OnDisconnectedAgain, OnErrorAgain, nullptr, OnSpectateAgain,
                                      nullptr};

bool WasDelivered(const std::string& entry) {
    return std::find(delivered.begin(), delivered.end(), entry) != delivered.end();
}

std::size_t PositionOf(const std::string& entry) {
    return static_cast<std::size_t>(std::find(delivered.begin(), delivered.end(), entry) - delivered.begin());
}

// Calls rpc_run_callbacks until every entry has been delivered.
bool DeliverUntil(const std::vector<std::string>& entries) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServiceWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        rpc_run_callbacks();
        if (std::all_of(entries.begin(), entries.end(), WasDelivered)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void Update(const char* state) {
    RichPresence presence;
    presence.state = state;
    rpc_update_presence(&presence);
}

std::string SubscribeFrame(int nonce, const char* event) {
    return "frame 1 {\"nonce\":\"" + std::to_string(nonce) + "\",\"cmd\":\"SUBSCRIBE\",\"evt\":\"" + event + "\"}";
}

std::string ReplyFrame(const char* command, const std::string& user, int nonce) {
    return std::string("frame 1 {\"cmd\":\"") + command + "\",\"args\":{\"user_id\":\"" + user + "\"},\"nonce\":\"" +
           std::to_string(nonce) + "\"}";
}

bool IsReplyFrame(const std::string& line) { return line.rfind("frame 1 {\"cmd\":", 0) == 0; }

// The first service sends the same events right after every READY, answers
// every request with an error, and reads nothing for a while once the third
// request has come.
constexpr int kStallMs = 3000;
const std::vector<std::string> kFirstServiceOptions = {
    "--event", "ACTIVITY_JOIN", R"({"secret":"join-secret"})",
    "--event", "ACTIVITY_SPECTATE", R"({"secret":"watch-secret"})",
    "--event", "ACTIVITY_JOIN_REQUEST", R"({"user":{"id":"42","username":"ann","discriminator":"0001","avatar":"av"}})",
    "--event", "ACTIVITY_JOIN_REQUEST", R"({"user":{"id":"43","username":"bob"}})",
    "--error", "4000", "Bad request",
    "--stall-after", "3", std::to_string(kStallMs),
};
// The second one answers its third request with a Close frame and then ends.
const std::vector<std::string> kSecondServiceOptions = {
    "--event", "ACTIVITY_JOIN", R"({"secret":"join-secret-2"})",
    "--event", "ACTIVITY_SPECTATE", R"({"secret":"watch-secret-2"})",
    "--error", "4000", "Still bad",
    "--close-after", "3", "4001", "Gone for now",
    "--clients", "1",
};

TEST(ClientEvents, SubscribesDeliversAnswersAndReportsEachLossInItsPlace) {
    const int pid = CurrentProcessId();
    ServiceLog first;
    ASSERT_TRUE(first.Start(kFirstServiceOptions));

    testing::internal::CaptureStderr();
    rpc_initialize("1234", &kHandlers, 0, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "registers nothing unless asked";
    rpc_respond("early", RPC_REPLY_YES);  // not connected yet: dropped

    // Subscriptions go out after READY, exactly for the installed handlers.
    EXPECT_EQ(first.WaitForText("frame 1 "), SubscribeFrame(1, "ACTIVITY_JOIN"));
    EXPECT_EQ(first.WaitForText("frame 1 "), SubscribeFrame(2, "ACTIVITY_JOIN_REQUEST"));

    // Events, errors and join requests reach their handlers; the spectate
    // event has none and is dropped.
    ASSERT_TRUE(DeliverUntil({"ready", "error 4000 Bad request", "join join-secret",
                              "join request 42 ann [0001] [av]", "join request 43 bob [] []"}))
        << ::testing::PrintToString(delivered);
    EXPECT_EQ(delivered.front(), "ready");
    EXPECT_EQ(std::count(delivered.begin(), delivered.end(), "ready"), 1);
    for (const std::string& entry : delivered) EXPECT_EQ(entry.find("spectate"), std::string::npos) << entry;

    // The third request stalls the service. While the I/O thread is held in
    // a write to the full pipe, eight replies wait and the ninth is dropped
    // without taking a nonce; once the service reads again, all eight go out
    // in order, and new requests are accepted.
    Update("marker");  // request 3
    EXPECT_EQ(first.WaitForText("frame 1 "), PresenceFrame(3, pid, "marker"));
    FillThePipe();  // nonces 4 to 67
    const int answers[] = {RPC_REPLY_YES, RPC_REPLY_NO,  RPC_REPLY_IGNORE, RPC_REPLY_YES, RPC_REPLY_NO,
                           RPC_REPLY_IGNORE, RPC_REPLY_YES, RPC_REPLY_YES, RPC_REPLY_YES};
    for (int i = 0; i < 9; ++i) {
        rpc_respond(("user-" + std::to_string(i + 1)).c_str(), answers[i]);
        // Time enough for a free I/O thread to write each reply at once.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int firstReplyNonce = 4 + kFillUpdates;
    const char* invite = "SEND_ACTIVITY_JOIN_INVITE";
    const char* close = "CLOSE_ACTIVITY_JOIN_REQUEST";
    const char* commands[] = {invite, close, close, invite, close, close, invite, invite};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(first.WaitFor(IsReplyFrame), ReplyFrame(commands[i], "user-" + std::to_string(i + 1),
                                                          firstReplyNonce + i));
    }
    Update("marker 2");
    EXPECT_EQ(first.WaitForText("marker 2"), PresenceFrame(firstReplyNonce + 8, pid, "marker 2"));
    EXPECT_TRUE(first.LinesWith("user-9").empty());
    EXPECT_TRUE(first.LinesWith("early").empty());

    // A second initialise while running registers again when asked (here
    // with a Steam id too long to be used), replaces the handlers and opens
    // no second connection.
    delivered.clear();
    const std::string longSteamId(40, '7');
    testing::internal::CaptureStderr();
    rpc_initialize("1234", &kOtherHandlers, 1, longSteamId.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid Steam id\n");
    const int secondInitialiseNonce = firstReplyNonce + 9;
    Update("after second initialise");
    EXPECT_EQ(first.WaitForText("after second initialise"),
              PresenceFrame(secondInitialiseNonce, pid, "after second initialise"));
    ASSERT_TRUE(DeliverUntil({"again: error 4000 Bad request"})) << ::testing::PrintToString(delivered);
    for (const std::string& entry : delivered) EXPECT_EQ(entry.rfind("again: ", 0), 0u) << entry;
    EXPECT_EQ(std::count(first.Lines().begin(), first.Lines().end(), "connected"), 1);

    // The service goes away and another takes its place. The new connection
    // gets the latest presence again and subscribes for the new handlers:
    // spectate, not join. Delivered together, the loss comes before the new
    // ready event, and the spectate event reaches the spectate handler.
    first.Kill();
    ServiceLog second;
    ASSERT_TRUE(second.Start(kSecondServiceOptions));
    EXPECT_EQ(second.WaitForText("frame 0 "), "frame 0 {\"v\":1,\"client_id\":\"1234\"}");
    EXPECT_EQ(second.WaitForText("frame 1 "), PresenceFrame(secondInitialiseNonce, pid, "after second initialise"));
    EXPECT_EQ(second.WaitForText("frame 1 "), SubscribeFrame(secondInitialiseNonce + 1, "ACTIVITY_SPECTATE"));
    delivered.clear();
    rpc_run_callbacks();
    ASSERT_GE(delivered.size(), 3u) << ::testing::PrintToString(delivered);
    EXPECT_EQ(delivered[0].rfind("again: disconnected ", 0), 0u) << delivered[0];
    EXPECT_EQ(delivered[1], "again: ready");
    EXPECT_TRUE(WasDelivered("again: spectate watch-secret-2")) << ::testing::PrintToString(delivered);
    for (const std::string& entry : delivered) EXPECT_EQ(entry.find("join"), std::string::npos) << entry;

    // The third request is answered, and then the service closes the
    // connection and ends. The loss still stands when the events are
    // delivered, so it comes last, after the error answer that preceded it.
    Update("closing");
    EXPECT_EQ(second.WaitForText("sent 2 "), "sent 2 {\"code\":4001,\"message\":\"Gone for now\"}");
    EXPECT_EQ(second.WaitForText("disconnected"), "disconnected");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the I/O thread turns at least every 500 ms
    delivered.clear();
    rpc_run_callbacks();
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered.back(), "again: disconnected 4001 Gone for now") << ::testing::PrintToString(delivered);
    EXPECT_LT(PositionOf("again: error 4000 Still bad"), delivered.size() - 1) << ::testing::PrintToString(delivered);

    rpc_shutdown();
    delivered.clear();
    rpc_run_callbacks();  // not initialised: nothing is delivered
    EXPECT_TRUE(delivered.empty());
}

}  // namespace
