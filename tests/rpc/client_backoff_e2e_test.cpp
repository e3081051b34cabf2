// The reconnect backoff as the service sees it: the I/O thread advances it
// before each connection attempt (READY is read no sooner than the delay
// after the handshake) and after each loss (the next attempt comes no sooner
// than the delay after the loss, also when the connection lasted longer than
// any delay drawn before), and resets it on READY (the delay after each loss
// stays within the first step's range instead of growing).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "rpc/presence_client.h"
#include "support/service_log.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often the test wakes the I/O thread with an update, so that each step
// comes as soon as it is due and there is always a presence to send.
constexpr auto kTick = std::chrono::milliseconds(20);
// Room for scheduling delays on a busy machine: a line read late shortens
// the gap before it, a turn that comes late lengthens the gap after it. A
// client that does not advance the delay shows gaps of a few ticks.
constexpr long long kLateReadMs = 100;
constexpr long long kLateTurnMs = 500;

// When the service printed each kind of line, as far as the test read it.
struct Timeline {
    std::vector<Clock::time_point> handshakes;
    std::vector<Clock::time_point> firstRequests;  // the first of each connection
    std::vector<Clock::time_point> hangups;
};

// Reads the service's lines, updating the presence every tick, until
// `done` says the timeline is long enough.
template <typename Done>
bool Follow(ServiceLog& service, Timeline& timeline, Done done) {
    RichPresence presence;
    presence.state = "tick";
    auto deadline = Clock::now() + std::chrono::milliseconds(2 * kServiceWaitMs);
    auto nextTick = Clock::now();
    while (!done(timeline)) {
        if (Clock::now() > deadline) return false;
        if (Clock::now() >= nextTick) {
            rpc_update_presence(&presence);
            nextTick = Clock::now() + kTick;
        }
        std::string line = service.WaitFor([](const std::string&) { return true; }, 10);
        auto now = Clock::now();
        if (line.rfind("frame 0 ", 0) == 0) timeline.handshakes.push_back(now);
        if (line.rfind("frame 1 ", 0) == 0 && timeline.firstRequests.size() < timeline.handshakes.size()) {
            timeline.firstRequests.push_back(now);
        }
        if (line == "disconnected") timeline.hangups.push_back(now);
    }
    return true;
}

long long MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

TEST(ClientBackoff, AdvancesBeforeEachAttemptAndAfterEachLossAndResetsOnReady) {
    // Four short connections, each ended by the service once its first
    // request has come; then a service that ends its connections only five
    // seconds after their first request. The second listens on a later name,
    // so the client finds it once the first has gone.
    constexpr int kShortConnections = 4;
    ServiceLog shortLived;
    ASSERT_TRUE(shortLived.Start({"--hangup-after", "1", "--clients", std::to_string(kShortConnections)}));
    ServiceLog longLived;
    ASSERT_TRUE(longLived.Start({"--stall-after", "1", "5000", "--hangup-after", "1"}));
    rpc_initialize("1234", nullptr, 0, nullptr);

    Timeline first;
    ASSERT_TRUE(Follow(shortLived, first, [](const Timeline& t) { return t.hangups.size() == kShortConnections; }));
    ASSERT_EQ(first.firstRequests.size(), static_cast<std::size_t>(kShortConnections));

    for (int n = 0; n < kShortConnections; ++n) {
        SCOPED_TRACE("short connection " + std::to_string(n + 1));
        // The attempt that sent the handshake advanced the delay to at least
        // 500 ms (below 1500 ms from the start, else below three times the
        // delay after the loss); READY is read once it has passed.
        long long untilRequest = MillisecondsBetween(first.handshakes[n], first.firstRequests[n]);
        EXPECT_GE(untilRequest, 500 - kLateReadMs);
        EXPECT_LT(untilRequest, (n == 0 ? 1500 : 4500) + kLateTurnMs);
        if (n + 1 == kShortConnections) break;
        // The loss advanced the delay from the 500 ms that READY reset it to.
        long long untilNextAttempt = MillisecondsBetween(first.firstRequests[n], first.handshakes[n + 1]);
        EXPECT_GE(untilNextAttempt, 500 - kLateReadMs);
        EXPECT_LT(untilNextAttempt, 1500 + kLateTurnMs);
    }

    // This connection outlasts every delay drawn while it was made, so when
    // it is lost, only an advance at the loss makes the next attempt wait.
    Timeline second;
    bool followed = Follow(longLived, second, [](const Timeline& t) { return t.handshakes.size() == 2; });
    rpc_shutdown();
    ASSERT_TRUE(followed);
    ASSERT_EQ(second.hangups.size(), 1u);
    long long afterLongConnection = MillisecondsBetween(second.hangups[0], second.handshakes[1]);
    EXPECT_GE(afterLongConnection, 500 - kLateReadMs);
    EXPECT_LT(afterLongConnection, 1500 + kLateTurnMs);
}

}  // namespace
