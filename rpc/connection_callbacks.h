#pragma once
// When the client connects and what happens when its connection becomes
// ready or is lost: the reconnect schedule (a randomized backoff and the
// time the next attempt is due) and the two callbacks that the client
// installs into its connection. Used only on the I/O thread.

namespace detail {

// The next connection attempt is due; at program start it is due at once.
bool ConnectAttemptIsDue();

// Advances the backoff and makes the next attempt due that much later.
void schedule_reconnect();

// The connection accepted READY: records it, resets the backoff, sends the
// presence last written again and subscribes to the events whose handlers
// are installed.
void handle_connected();

// An open connection was torn down: records the loss (a null message keeps
// the previous text) and schedules the next attempt.
void handle_disconnected(int code, const char* message);

}  // namespace detail
