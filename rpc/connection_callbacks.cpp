// The reconnect schedule and the connection's two callbacks.

#include "rpc/connection_callbacks.h"

#include <chrono>
#include <cstdint>
#include <ctime>

#include "rpc/client_state.h"
#include "rpc/outgoing_queue.h"
#include "rpc/presence_slot.h"
#include "rpc/reconnect_backoff.h"

namespace detail {
namespace {

using MonotonicClock = std::chrono::steady_clock;

ReconnectBackoff reconnectBackoff(static_cast<std::uint64_t>(std::time(nullptr)));
// The first connection attempt is due at once.
MonotonicClock::time_point nextConnectTime = MonotonicClock::now();

}  // namespace

bool ConnectAttemptIsDue() { return MonotonicClock::now() >= nextConnectTime; }

void schedule_reconnect() {
    std::int64_t delayMs = reconnectBackoff.advance_delay();
    nextConnectTime = MonotonicClock::now() + std::chrono::milliseconds(delayMs);
}

void handle_connected() {
    eventRecords.connectedPending.exchange(true);
    reconnectBackoff.reset_delay();
    ResendLastPresence();
    EventHandlers handlers = installedHandlers.Snapshot();
    if (handlers.joinHandler != nullptr) subscribe_event("ACTIVITY_JOIN");
    if (handlers.spectateHandler != nullptr) subscribe_event("ACTIVITY_SPECTATE");
    if (handlers.joinRequestHandler != nullptr) subscribe_event("ACTIVITY_JOIN_REQUEST");
}

void handle_disconnected(int code, const char* message) {
    eventRecords.disconnected.Record(code, message);
    schedule_reconnect();
}

}  // namespace detail
