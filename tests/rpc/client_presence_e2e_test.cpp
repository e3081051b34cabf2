// The client against the reference service, as the companion uses it:
// nothing before READY, the presence stored before initialise, only the
// latest of quick updates, pings, a service that goes away (requests queued
// then are dropped) or restarts, shutdown, and initialising again, also
// under another application id. The client is process-wide state, so this
// is one scenario in order.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "pipe_filler.h"
#include "rpc/pipe_transport.h"
#include "rpc/presence_client.h"
#include "support/service_log.h"

namespace {

const std::vector<std::string> kServiceOptions = {"--ping", "{\"beat\":1}"};
const char kPong[] = "frame 4 {\"beat\":1}";

void Update(const char* state) {
    RichPresence presence;
    presence.state = state;
    rpc_update_presence(&presence);
}

std::string Handshake(const char* applicationId) {
    return std::string("frame 0 {\"v\":1,\"client_id\":\"") + applicationId + "\"}";
}

// Waits for the next connection to reach the service: its handshake, and the
// pong that answers the ping sent after READY (so READY was accepted).
void ExpectConnection(ServiceLog& service, const char* applicationId = "1234") {
    EXPECT_EQ(service.WaitForText("frame 0 "), Handshake(applicationId));
    EXPECT_EQ(service.WaitForText("frame 4 "), kPong);
}

TEST(ClientPresence, PublishesTheLatestPresenceAcrossRestartsAndReinitialisation) {
    const int pid = CurrentProcessId();
    // The first service answers READY only after a second, printing whatever
    // comes meanwhile, and stops reading once its second request has come.
    ServiceLog first;
    ASSERT_TRUE(first.Start({"--ready-delay", "1000", "--ping", "{\"beat\":1}", "--stall-after", "2", "60000"}));

    // Before initialise the request is built with pid 0; of two updates only
    // the second is ever sent, and not before READY.
    Update("first");   // nonce 1
    Update("second");  // nonce 2
    rpc_initialize("1234", nullptr, 0, nullptr);
    EXPECT_EQ(first.WaitForText("frame 0 "), Handshake("1234"));
    EXPECT_NE(first.WaitForText("\"evt\":\"READY\""), "");
    EXPECT_TRUE(first.LinesWith("frame 1 ").empty()) << "sent before READY";
    EXPECT_EQ(first.WaitForText("frame 4 "), kPong);
    EXPECT_EQ(first.WaitForText("frame 1 "), PresenceFrame(2, 0, "second"));

    Update("running");  // nonce 3
    EXPECT_EQ(first.WaitForText("frame 1 "), PresenceFrame(3, pid, "running"));
    EXPECT_TRUE(first.LinesWith("\"first\"").empty());

    // The service stops reading and then goes away. What was queued while
    // the I/O thread was held in a write to it is dropped with the
    // connection; of the updates made meanwhile only the latest reaches the
    // next service, after its READY.
    FillThePipe();  // nonces 4 to 67
    for (const char* user : {"user-1", "user-2", "user-3"}) rpc_respond(user, RPC_REPLY_YES);  // nonces 68 to 70
    Update("away 1");  // nonce 71
    first.Kill();
    Update("away 2");  // nonce 72
    ServiceLog second;
    ASSERT_TRUE(second.Start(kServiceOptions));
    ExpectConnection(second);
    EXPECT_EQ(second.WaitForText("frame 1 "), PresenceFrame(72, pid, "away 2"));
    Update("marker");  // nonce 73
    EXPECT_EQ(second.WaitForText("frame 1 "), PresenceFrame(73, pid, "marker"));
    EXPECT_TRUE(second.LinesWith("away 1").empty());
    EXPECT_TRUE(second.LinesWith("user-").empty());

    // A service restarted without any new update still gets the latest presence.
    second.Kill();
    ServiceLog third;
    ASSERT_TRUE(third.Start(kServiceOptions));
    ExpectConnection(third);
    EXPECT_EQ(third.WaitForText("frame 1 "), PresenceFrame(73, pid, "marker"));

    // Shutdown ends the connection; what is stored afterwards waits for the
    // next initialise. A shutdown that finds no client does nothing.
    rpc_shutdown();
    EXPECT_EQ(third.WaitForText("disconnected"), "disconnected");
    rpc_clear_presence();  // nonce 74
    rpc_shutdown();
    rpc_run_callbacks();
    rpc_respond("42", RPC_REPLY_YES);

    rpc_initialize("1234", nullptr, 0, nullptr);
    ExpectConnection(third);
    EXPECT_EQ(third.WaitForText("frame 1 "), PresenceFrame(74, pid, nullptr));
    rpc_shutdown();
    EXPECT_EQ(third.WaitForText("disconnected"), "disconnected");

    // Initialised again, under another application id, the client sends
    // nothing of its former life: its first request is its first update.
    rpc_initialize("5678", nullptr, 0, nullptr);
    ExpectConnection(third, "5678");
    // The turn that answered the ping, and would send a presence waiting
    // after READY, is over before the update.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    Update("under 5678");  // nonce 75
    EXPECT_EQ(third.WaitForText("frame 1 "), PresenceFrame(75, pid, "under 5678"));
    rpc_shutdown();
    EXPECT_EQ(third.WaitForText("disconnected"), "disconnected");

    // Every request the service saw was a presence; nothing was subscribed.
    EXPECT_TRUE(third.LinesWith("SUBSCRIBE").empty());
    EXPECT_TRUE(second.LinesWith("SUBSCRIBE").empty());
}

}  // namespace
