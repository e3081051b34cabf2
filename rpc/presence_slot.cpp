// The presence slot, the request last written, and the steps between them.

#include "rpc/presence_slot.h"

#include <cstring>
#include <mutex>

#include "rpc/serialization.h"

namespace detail {
namespace {

struct PresenceRequest {
    std::size_t length = 0;  // 0: none
    char bytes[kRequestCapacity];
};

// Guards both requests. Never held while writing to the pipe.
std::mutex presenceLock;
PresenceRequest presenceSlot;
PresenceRequest lastSentPresence;

void CopyRequest(PresenceRequest& destination, const char* bytes, std::size_t length) {
    std::memcpy(destination.bytes, bytes, length);
    destination.length = length;
}

// Moves the slot's request into `copy` and empties the slot; 0 when empty.
std::size_t TakePresence(char (&copy)[kRequestCapacity]) {
    std::lock_guard<std::mutex> guard(presenceLock);
    std::size_t length = presenceSlot.length;
    std::memcpy(copy, presenceSlot.bytes, length);
    presenceSlot.length = 0;
    return length;
}

void RestorePresence(const char* copy, std::size_t length) {
    std::lock_guard<std::mutex> guard(presenceLock);
    if (presenceSlot.length != 0) return;  // a newer presence arrived meanwhile
    CopyRequest(presenceSlot, copy, length);
}

void RememberSentPresence(const char* copy, std::size_t length) {
    std::lock_guard<std::mutex> guard(presenceLock);
    CopyRequest(lastSentPresence, copy, length);
}

}  // namespace

void StorePresence(int processId, const RichPresence* presence) {
    std::lock_guard<std::mutex> guard(presenceLock);
    std::int32_t nonce = take_nonce();
    presenceSlot.length = build_set_activity(presenceSlot.bytes, sizeof presenceSlot.bytes, nonce, processId, presence);
}

void SendPresence(RequestWriter write) {
    char copy[kRequestCapacity];
    std::size_t length = TakePresence(copy);
    if (length == 0) return;
    if (write(copy, length)) {
        RememberSentPresence(copy, length);
    } else {
        RestorePresence(copy, length);
    }
}

void ResendLastPresence() {
    std::lock_guard<std::mutex> guard(presenceLock);
    if (presenceSlot.length != 0) return;
    CopyRequest(presenceSlot, lastSentPresence.bytes, lastSentPresence.length);
}

void ForgetSentPresence() {
    std::lock_guard<std::mutex> guard(presenceLock);
    lastSentPresence.length = 0;
}

}  // namespace detail
