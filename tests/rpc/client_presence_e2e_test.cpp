// The client against the reference service, as the companion uses it: the
// presence before initialise, only the latest of quick updates, pings, a
// service that restarts, shutdown and a second initialise. The client is
// process-wide state, so this is one scenario in order.
#include <gtest/gtest.h>

#include <string>

#include "rpc/pipe_transport.h"
#include "rpc/presence_client.h"
#include "support/service_log.h"

namespace {

const std::vector<std::string> kServiceOptions = {"--ping", "{\"beat\":1}"};
const char kHandshake[] = "frame 0 {\"v\":1,\"client_id\":\"1234\"}";
const char kPong[] = "frame 4 {\"beat\":1}";

void update(const char* state) {
    RichPresence presence;
    presence.state = state;
    rpc_update_presence(&presence);
}

// Waits for the next connection to reach the service: its handshake, and the
// pong that answers the ping sent after READY (so READY was accepted).
void expect_connection(ServiceLog& service) {
    EXPECT_EQ(service.WaitForText("frame 0 "), kHandshake);
    EXPECT_EQ(service.WaitForText("frame 4 "), kPong);
}

TEST(ClientPresence, PublishesTheLatestPresenceAcrossRestartsAndReinitialisation) {
    const int pid = CurrentProcessId();
    ServiceLog first;
    ASSERT_TRUE(first.Start(kServiceOptions));

    // Before initialise the request is built with pid 0; of two updates only
    // the second is ever sent.
    update("first");   // nonce 1
    update("second");  // nonce 2
    rpc_initialize("1234", nullptr, 0, nullptr);
    expect_connection(first);
    EXPECT_EQ(first.WaitForText("frame 1 "), presence_frame(2, 0, "second"));

    update("running");  // nonce 3
    EXPECT_EQ(first.WaitForText("frame 1 "), presence_frame(3, pid, "running"));
    EXPECT_TRUE(first.LinesWith("\"first\"").empty());

    // The service goes away; what is updated meanwhile waits, and only the
    // latest reaches the next service after its READY.
    first.Kill();
    update("away 1");  // nonce 4
    update("away 2");  // nonce 5
    ServiceLog second;
    ASSERT_TRUE(second.Start(kServiceOptions));
    expect_connection(second);
    EXPECT_EQ(second.WaitForText("frame 1 "), presence_frame(5, pid, "away 2"));
    EXPECT_TRUE(second.LinesWith("away 1").empty());

    // A service restarted without any new update still gets the latest presence.
    second.Kill();
    ServiceLog third;
    ASSERT_TRUE(third.Start(kServiceOptions));
    expect_connection(third);
    EXPECT_EQ(third.WaitForText("frame 1 "), presence_frame(5, pid, "away 2"));

    // Shutdown ends the connection; what is stored afterwards waits for the
    // next initialise. A shutdown that finds no client does nothing.
    rpc_shutdown();
    EXPECT_EQ(third.WaitForText("disconnected"), "disconnected");
    rpc_clear_presence();  // nonce 6
    rpc_shutdown();
    rpc_run_callbacks();
    rpc_respond("42", RPC_REPLY_YES);

    rpc_initialize("1234", nullptr, 0, nullptr);
    expect_connection(third);
    EXPECT_EQ(third.WaitForText("frame 1 "), presence_frame(6, pid, nullptr));
    rpc_shutdown();
    EXPECT_EQ(third.WaitForText("disconnected"), "disconnected");

    // Every request the service saw was a presence; nothing was subscribed.
    EXPECT_TRUE(third.LinesWith("SUBSCRIBE").empty());
    EXPECT_TRUE(second.LinesWith("SUBSCRIBE").empty());
}

}  // namespace
