#pragma once
// The few messages from the service that leave a trace: error responses and
// the join, spectate and join-request events. Each is recorded in static
// storage (a pending flag plus fixed-size data) on the I/O thread and
// delivered later by rpc_run_callbacks on the host's thread. The records of
// a connection that became ready or was lost live here too.

#include <atomic>
#include <cstddef>
#include <mutex>

#include "rpc/message_document.h"
#include "rpc/message_ring.h"

constexpr std::size_t kEventTextSize = 256;  // a text of at most 255 bytes and a NUL byte

// One join request: four NUL-terminated texts, 512 bytes in all.
struct JoinRequestEntry {
    char id[32];
    char username[344];
    char discriminator[8];
    char avatar[128];
};
static_assert(sizeof(JoinRequestEntry) == 512, "a join-request entry is 512 bytes");

struct EventRecords {
    // Each flag is set by an atomic exchange after its data has been written,
    // and taken and cleared by one atomic exchange.
    std::atomic<bool> connectedPending{false};
    std::atomic<bool> disconnectedPending{false};
    std::atomic<bool> errorPending{false};
    std::atomic<bool> joinPending{false};
    std::atomic<bool> spectatePending{false};

    // Held while the I/O thread writes a record and sets its flag, and while
    // rpc_run_callbacks takes a flag and copies its record out. A handler is
    // thus given a stable copy even when a newer event of the same kind is
    // recorded while it runs.
    std::mutex recordLock;
    int disconnectEventCode = 0;
    char disconnectEventText[kEventTextSize] = {};
    int errorEventCode = 0;
    char errorEventText[kEventTextSize] = {};
    char joinEventSecret[kEventTextSize] = {};
    char spectateEventSecret[kEventTextSize] = {};

    // Filled only by the I/O thread, emptied only by rpc_run_callbacks. An
    // entry cannot be reused before it is released, so it needs no lock.
    MessageRing<JoinRequestEntry> joinRequestQueue;
};

extern EventRecords eventRecords;

// Copies `source` up to its first NUL byte or `size` - 1 bytes, whichever
// comes first, then a NUL byte. A null source stores the empty text.
void copy_text(char* destination, std::size_t size, const char* source);

// Records what one incoming message carries, if anything. Runs on the I/O thread.
void dispatch_message(const MessageDocument& message);

// The connection records, written by the I/O thread's connection callbacks.
void record_connected();
// A null message keeps the previous text.
void record_disconnected(int code, const char* message);

// An event's code and text as handed to a handler.
struct EventText {
    int code = 0;
    char text[kEventTextSize] = {};
};

// Takes and clears one pending flag and, when it was set, copies the
// record's data into `out` under the record lock. `code` may be null.
bool take_event(std::atomic<bool>& pending, const int* code, const char* text, EventText& out);
