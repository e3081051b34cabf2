// The outgoing queue, its two producers and its one consumer.

#include "rpc/outgoing_queue.h"

#include <cstddef>
#include <mutex>

#include "rpc/io_worker.h"
#include "rpc/serialization.h"

namespace detail {
namespace {

struct OutgoingEntry {
    std::size_t length;
    char bytes[kRequestCapacity];
};

MessageRing<OutgoingEntry> outgoingQueue;
// Held by a producer from reservation to commit.
std::mutex producerLock;

// Reserves an entry, builds a request into it with the next nonce and
// commits it. `build(bytes, capacity, nonce)` returns the length built.
template <typename BuildRequest>
bool QueueRequest(BuildRequest build) {
    std::lock_guard<std::mutex> producers(producerLock);
    OutgoingEntry* entry = outgoingQueue.Reserve();
    if (entry == nullptr) return false;
    entry->length = build(entry->bytes, sizeof entry->bytes, take_nonce());
    outgoingQueue.Commit();
    return true;
}

}  // namespace

bool subscribe_event(const char* eventName) {
    bool queued = QueueRequest([eventName](char* bytes, std::size_t capacity, std::int32_t nonce) {
        return build_subscribe(bytes, capacity, nonce, eventName);
    });
    if (queued) WakeIoThread();
    return queued;
}

bool QueueJoinReply(const char* requesterId, int answer) {
    return QueueRequest([requesterId, answer](char* bytes, std::size_t capacity, std::int32_t nonce) {
        return build_join_reply(bytes, capacity, requesterId, answer, nonce);
    });
}

bool OutgoingQueueIsFull() { return outgoingQueue.PendingCount() >= MessageRing<OutgoingEntry>::kCapacity; }

void SendQueuedRequests(RequestWriter write) {
    while (outgoingQueue.HasPending()) {
        const OutgoingEntry* entry = outgoingQueue.Take();
        write(entry->bytes, entry->length);
        outgoingQueue.Release();
    }
}

}  // namespace detail
