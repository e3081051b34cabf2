#pragma once
// The events the client records on the I/O thread for rpc_run_callbacks to
// deliver on the host's thread: a connection that became ready, one record
// per kind of text event (a lost connection, an error response, a join or
// spectate secret) and the queue of join requests. Only the latest event of
// a kind survives until it is delivered.

#include <atomic>
#include <cstddef>
#include <mutex>

#include "rpc/message_ring.h"

namespace detail {

constexpr std::size_t kEventTextSize = 256;  // a text of at most 255 bytes and a NUL byte

// An event's code and text as handed to a handler.
struct EventText {
    int code = 0;
    char text[kEventTextSize] = {};
};

// The latest event of one kind and whether it waits for delivery. Recording
// writes the data before it sets the flag, and taking clears the flag and
// copies the data out, both under the record's lock: a handler is given a
// stable copy even when a newer event of the kind arrives while it runs.
class TextEventRecord {
public:
    // Keeps `text` cut to 255 bytes; a null text keeps the previous one.
    void Record(int code, const char* text);
    // Takes and clears the waiting event into `out`; false when none waits.
    bool Take(EventText& out);

private:
    std::mutex lock_;
    std::atomic<bool> pending_{false};
    int code_ = 0;
    char text_[kEventTextSize] = {};
};

// One join request: four NUL-terminated texts, 512 bytes in all.
struct JoinRequestEntry {
    char id[32];
    char username[344];
    char discriminator[8];
    char avatar[128];
};
static_assert(sizeof(JoinRequestEntry) == 512, "a join-request entry is 512 bytes");

struct EventRecords {
    std::atomic<bool> connectedPending{false};  // a READY was accepted
    TextEventRecord disconnected;               // an open connection was torn down: its code and reason
    TextEventRecord error;                      // an error response: its code and message
    TextEventRecord join;                       // an "ACTIVITY_JOIN" event: its secret (code unused)
    TextEventRecord spectate;                   // an "ACTIVITY_SPECTATE" event: its secret (code unused)
    // Filled only by the I/O thread, emptied only by rpc_run_callbacks. An
    // entry cannot be reused before it is released, so it needs no lock.
    MessageRing<JoinRequestEntry> joinRequests;
};

}  // namespace detail
