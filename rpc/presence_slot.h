#pragma once
// What waits to be sent: the presence slot, which holds only the latest
// "SET_ACTIVITY" request, and the outgoing queue of other requests
// (subscriptions and join replies). Producers build straight into them; the
// I/O thread is their only consumer.

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "rpc/message_ring.h"
#include "rpc/rich_presence.h"
#include "rpc/serialization.h"

constexpr std::size_t kRequestCapacity = 16384;

struct PresenceSlot {
    std::size_t length = 0;  // 0: empty
    char bytes[kRequestCapacity];
};

struct OutgoingEntry {
    std::size_t length;
    char bytes[kRequestCapacity];
};

// Guards presenceSlot and lastSentPresence. Never held while writing to the pipe.
extern std::mutex presenceLock;
extern PresenceSlot presenceSlot;
// The request last written successfully, so that a new connection (a service
// that was restarted knows nothing of it) gets the latest presence again.
extern PresenceSlot lastSentPresence;

extern MessageRing<OutgoingEntry> outgoingQueue;
// Serializes producers from reservation to commit: the host's thread answers
// join requests while the I/O thread queues subscriptions.
extern std::mutex outgoingProducerLock;

// Builds the "SET_ACTIVITY" request for `presence` (null: clear) with the
// next nonce into the slot, replacing whatever it held.
void store_presence(int processId, const RichPresence* presence);

// Moves the slot's request into `copy` and empties the slot; 0 when empty.
std::size_t take_presence(char (&copy)[kRequestCapacity]);

// Puts a request whose write failed back into the slot, unless a newer
// presence was stored since it was taken: the newer one wins.
void restore_presence(const char* copy, std::size_t length);

// Remembers a request that was written successfully.
void remember_sent_presence(const char* copy, std::size_t length);

// Puts the request last written back into the slot for a new connection,
// unless a newer presence already waits there.
void resend_last_presence();

// Reserves an outgoing entry, builds a request into it with the next nonce
// and commits it. `build(bytes, capacity, nonce)` returns the length built.
// False, with no nonce taken, when 8 entries are already pending.
template <typename BuildRequest>
bool queue_request(BuildRequest build) {
    std::lock_guard<std::mutex> producers(outgoingProducerLock);
    OutgoingEntry* entry = outgoingQueue.Reserve();
    if (entry == nullptr) return false;
    entry->length = build(entry->bytes, sizeof entry->bytes, take_nonce());
    outgoingQueue.Commit();
    return true;
}
