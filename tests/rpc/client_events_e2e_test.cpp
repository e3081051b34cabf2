// The client against the reference service, as a host with event handlers
// uses it: subscriptions for the installed handlers, events and errors
// delivered by rpc_run_callbacks, join replies and their limits, a loss and
// reconnection reported in order, and a second initialise that replaces the
// handlers. The client is process-wide state, so this is one scenario in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rpc/outgoing_messages.h"
#include "rpc/pipe_transport.h"
#include "rpc/presence_client.h"
#include "support/service_log.h"

namespace {

std::vector<std::string> delivered;  // what the handlers were given, in order

void on_ready() { delivered.push_back("ready"); }
void on_disconnected(int code, const char* message) {
    delivered.push_back("disconnected " + std::to_string(code) + " " + message);
}
void on_error(int code, const char* message) { delivered.push_back("error " + std::to_string(code) + " " + message); }
void on_join(const char* secret) { delivered.push_back(std::string("join ") + secret); }
void on_join_request(const JoinRequestUser* user) {
    delivered.push_back(std::string("join request ") + user->id + " " + user->username + " [" + user->discriminator +
                        "] [" + user->avatar + "]");
}
// The second table, installed by a second initialise.
void on_error_again(int code, const char* message) {
    delivered.push_back("again: error " + std::to_string(code) + " " + message);
}
void on_spectate_again(const char* secret) { delivered.push_back(std::string("again: spectate ") + secret); }

const EventHandlers kHandlers = {on_ready, on_disconnected, on_error, on_join, nullptr, on_join_request};
const EventHandlers kOtherHandlers = {nullptr, nullptr, on_error_again, nullptr, on_spectate_again, nullptr};

bool was_delivered(const std::string& entry) {
    return std::find(delivered.begin(), delivered.end(), entry) != delivered.end();
}

// Calls rpc_run_callbacks until every entry has been delivered.
bool deliver_until(const std::vector<std::string>& entries) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServiceWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        rpc_run_callbacks();
        if (std::all_of(entries.begin(), entries.end(), was_delivered)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void update(const char* state) {
    RichPresence presence;
    presence.state = state;
    rpc_update_presence(&presence);
}

std::string subscribe_frame(int nonce, const char* event) {
    return "frame 1 {\"nonce\":\"" + std::to_string(nonce) + "\",\"cmd\":\"SUBSCRIBE\",\"evt\":\"" + event + "\"}";
}

std::string reply_frame(const char* command, const std::string& user, int nonce) {
    return std::string("frame 1 {\"cmd\":\"") + command + "\",\"args\":{\"user_id\":\"" + user + "\"},\"nonce\":\"" +
           std::to_string(nonce) + "\"}";
}

// Every connection gets the same events right after READY, and every request
// an error answer. The 13th request of a connection is answered with a Close.
const std::vector<std::string> kServiceOptions = {
    "--event", "ACTIVITY_JOIN", R"({"secret":"join-secret"})",
    "--event", "ACTIVITY_SPECTATE", R"({"secret":"watch-secret"})",
    "--event", "ACTIVITY_JOIN_REQUEST", R"({"user":{"id":"42","username":"ann","discriminator":"0001","avatar":"av"}})",
    "--event", "ACTIVITY_JOIN_REQUEST", R"({"user":{"id":"43","username":"bob"}})",
    "--error", "4000", "Bad request",
    "--close-after", "13", "4001", "Gone for now",
};

TEST(ClientEvents, SubscribesDeliversAnswersAndReportsReconnection) {
    ServiceLog service;
    ASSERT_TRUE(service.Start(kServiceOptions));

    testing::internal::CaptureStderr();
    rpc_initialize("1234", &kHandlers, 0, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "registers nothing unless asked";
    rpc_respond("early", RPC_REPLY_YES);  // not connected yet: dropped

    // Subscriptions go out after READY, exactly for the installed handlers.
    EXPECT_EQ(service.WaitForText("frame 1 "), subscribe_frame(1, "ACTIVITY_JOIN"));
    EXPECT_EQ(service.WaitForText("frame 1 "), subscribe_frame(2, "ACTIVITY_JOIN_REQUEST"));
    update("marker");  // request 3
    EXPECT_EQ(service.WaitForText("frame 1 "), presence_frame(3, CurrentProcessId(), "marker"));
    EXPECT_TRUE(service.LinesWith("\"SUBSCRIBE\",\"evt\":\"ACTIVITY_SPECTATE").empty());

    // Events, errors and join requests reach their handlers; the spectate
    // event has none and is dropped.
    ASSERT_TRUE(deliver_until({"ready", "error 4000 Bad request", "join join-secret",
                               "join request 42 ann [0001] [av]", "join request 43 bob [] []"}))
        << ::testing::PrintToString(delivered);
    EXPECT_EQ(delivered.front(), "ready");
    EXPECT_EQ(std::count(delivered.begin(), delivered.end(), "ready"), 1);
    for (const std::string& entry : delivered) EXPECT_EQ(entry.find("spectate"), std::string::npos) << entry;

    // While the I/O thread cannot drain the queue, eight replies wait and the
    // ninth is dropped. The thread is held at the presence slot's lock, which
    // it takes in every turn before it sends the queue.
    {
        std::lock_guard<std::mutex> holdTheIoThread(presenceLock);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let a running turn finish
        const int answers[] = {RPC_REPLY_YES, RPC_REPLY_NO, RPC_REPLY_IGNORE, RPC_REPLY_YES, RPC_REPLY_NO,
                               RPC_REPLY_IGNORE, RPC_REPLY_YES, RPC_REPLY_YES, RPC_REPLY_YES};
        for (int i = 0; i < 9; ++i) rpc_respond(("user-" + std::to_string(i + 1)).c_str(), answers[i]);
    }
    const char* invite = "SEND_ACTIVITY_JOIN_INVITE";
    const char* close = "CLOSE_ACTIVITY_JOIN_REQUEST";
    const char* commands[] = {invite, close, close, invite, close, close, invite, invite};
    for (int i = 0; i < 8; ++i) {  // requests 4 to 11
        EXPECT_EQ(service.WaitForText("frame 1 "), reply_frame(commands[i], "user-" + std::to_string(i + 1), 4 + i));
    }
    update("marker 2");  // request 12
    EXPECT_EQ(service.WaitForText("frame 1 "), presence_frame(12, CurrentProcessId(), "marker 2"));
    EXPECT_TRUE(service.LinesWith("user-9").empty());
    EXPECT_TRUE(service.LinesWith("early").empty());

    // The 13th request makes the service close the connection; the client
    // reconnects, sends its latest presence again and subscribes again.
    // Delivered together, the loss comes before the new ready event.
    update("closing");  // request 13
    EXPECT_EQ(service.WaitForText("sent 2 "), "sent 2 {\"code\":4001,\"message\":\"Gone for now\"}");
    EXPECT_EQ(service.WaitForText("frame 0 "), "frame 0 {\"v\":1,\"client_id\":\"1234\"}");
    EXPECT_EQ(service.WaitForText("frame 1 "), presence_frame(13, CurrentProcessId(), "closing"));
    EXPECT_EQ(service.WaitForText("frame 1 "), subscribe_frame(14, "ACTIVITY_JOIN"));
    delivered.clear();
    rpc_run_callbacks();
    ASSERT_GE(delivered.size(), 2u) << ::testing::PrintToString(delivered);
    EXPECT_EQ(delivered[0], "disconnected 4001 Gone for now");
    EXPECT_EQ(delivered[1], "ready");

    // A second initialise while running registers again when asked (here
    // with a Steam id too long to be used), replaces the handlers and opens
    // no second connection.
    delivered.clear();
    const std::string longSteamId(40, '7');
    testing::internal::CaptureStderr();
    rpc_initialize("1234", &kOtherHandlers, 1, longSteamId.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid Steam id\n");
    update("after second initialise");
    EXPECT_EQ(service.WaitForText("after second initialise"),
              presence_frame(16, CurrentProcessId(), "after second initialise"));
    ASSERT_TRUE(deliver_until({"again: error 4000 Bad request"})) << ::testing::PrintToString(delivered);
    for (const std::string& entry : delivered) EXPECT_EQ(entry.rfind("again: ", 0), 0u) << entry;
    EXPECT_EQ(service.LinesWith("connected").size(), 3u);  // connected, disconnected, connected

    rpc_shutdown();
    EXPECT_EQ(service.WaitForText("disconnected"), "disconnected");
    delivered.clear();
    rpc_run_callbacks();  // not initialised: nothing is delivered
    EXPECT_TRUE(delivered.empty());
}

}  // namespace
