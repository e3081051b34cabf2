#include "rpc/outgoing_messages.h"

#include <cstring>

std::mutex presenceLock;
PresenceSlot presenceSlot;
PresenceSlot lastSentPresence;
MessageRing<OutgoingEntry> outgoingQueue;
std::mutex outgoingProducerLock;

void store_presence(int processId, const RichPresence* presence) {
    std::lock_guard<std::mutex> guard(presenceLock);
    std::int32_t nonce = take_nonce();
    presenceSlot.length = build_set_activity(presenceSlot.bytes, sizeof presenceSlot.bytes, nonce, processId, presence);
}

std::size_t take_presence(char (&copy)[kRequestCapacity]) {
    std::lock_guard<std::mutex> guard(presenceLock);
    std::size_t length = presenceSlot.length;
    std::memcpy(copy, presenceSlot.bytes, length);
    presenceSlot.length = 0;
    return length;
}

namespace {

void copy_request(PresenceSlot& destination, const char* bytes, std::size_t length) {
    std::memcpy(destination.bytes, bytes, length);
    destination.length = length;
}

}  // namespace

void restore_presence(const char* copy, std::size_t length) {
    std::lock_guard<std::mutex> guard(presenceLock);
    if (presenceSlot.length != 0) return;  // a newer presence arrived meanwhile
    copy_request(presenceSlot, copy, length);
}

void remember_sent_presence(const char* copy, std::size_t length) {
    std::lock_guard<std::mutex> guard(presenceLock);
    copy_request(lastSentPresence, copy, length);
}

void resend_last_presence() {
    std::lock_guard<std::mutex> guard(presenceLock);
    if (presenceSlot.length != 0) return;
    copy_request(presenceSlot, lastSentPresence.bytes, lastSentPresence.length);
}
