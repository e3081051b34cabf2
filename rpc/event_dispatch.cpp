#include "rpc/event_dispatch.h"

#include <cstring>

EventRecords eventRecords;

namespace {

// A member of the kind asked for, or null: a member of another kind counts
// as absent, and so does any member of an absent object.
const MessageValue* object_member(const MessageValue* object, const char* name) {
    const MessageValue* value = object != nullptr ? Member(*object, name) : nullptr;
    return value != nullptr && value->IsObject() ? value : nullptr;
}

const char* string_member(const MessageValue* object, const char* name) {
    const MessageValue* value = object != nullptr ? StringMember(*object, name) : nullptr;
    return value != nullptr ? value->GetString() : nullptr;
}

// A JSON number that is an integer in the signed 32-bit range, else 0.
int integer_member_or_zero(const MessageValue* object, const char* name) {
    const MessageValue* value = object != nullptr ? Member(*object, name) : nullptr;
    return value != nullptr && value->IsInt() ? value->GetInt() : 0;
}

// Writes one text record and then sets its flag, both under the record lock.
void record_text(std::atomic<bool>& pending, int* code, int codeValue, char* text, const char* textValue) {
    std::lock_guard<std::mutex> guard(eventRecords.recordLock);
    if (code != nullptr) *code = codeValue;
    copy_text(text, kEventTextSize, textValue);
    pending.exchange(true);
}

void record_error(const MessageValue* data) {
    record_text(eventRecords.errorPending, &eventRecords.errorEventCode, integer_member_or_zero(data, "code"),
                eventRecords.errorEventText, string_member(data, "message"));
}

void record_secret(std::atomic<bool>& pending, char* secretRecord, const MessageValue* data) {
    const char* secret = string_member(data, "secret");
    if (secret == nullptr) return;
    record_text(pending, nullptr, 0, secretRecord, secret);
}

void record_join_request(const MessageValue* data) {
    const MessageValue* user = object_member(data, "user");
    const char* id = string_member(user, "id");
    const char* username = string_member(user, "username");
    if (id == nullptr || username == nullptr) return;

    auto& queue = eventRecords.joinRequestQueue;
    JoinRequestEntry* entry = queue.Reserve();
    if (entry == nullptr) return;  // 8 already wait for delivery: this request is lost
    copy_text(entry->id, sizeof entry->id, id);
    copy_text(entry->username, sizeof entry->username, username);
    // Entries are reused in turn; a request without a discriminator must not
    // show an earlier request's, so it gets the empty text.
    copy_text(entry->discriminator, sizeof entry->discriminator, string_member(user, "discriminator"));
    copy_text(entry->avatar, sizeof entry->avatar, string_member(user, "avatar"));
    queue.Commit();
}

}  // namespace

void copy_text(char* destination, std::size_t size, const char* source) {
    if (size == 0) return;
    std::size_t length = 0;
    if (source != nullptr) {
        while (length < size - 1 && source[length] != '\0') ++length;
        std::memcpy(destination, source, length);
    }
    destination[length] = '\0';
}

void dispatch_message(const MessageDocument& message) {
    if (!message.IsObject()) return;
    bool hasEvt = StringMember(message, "evt") != nullptr;
    bool hasNonce = StringMember(message, "nonce") != nullptr;
    const MessageValue* data = object_member(&message, "data");

    if (hasNonce) {
        // A response to one of our own requests: only errors leave a trace.
        if (StringMemberEquals(message, "evt", "ERROR")) record_error(data);
        return;
    }
    if (!hasEvt) return;
    if (StringMemberEquals(message, "evt", "ACTIVITY_JOIN")) {
        record_secret(eventRecords.joinPending, eventRecords.joinEventSecret, data);
    } else if (StringMemberEquals(message, "evt", "ACTIVITY_SPECTATE")) {
        record_secret(eventRecords.spectatePending, eventRecords.spectateEventSecret, data);
    } else if (StringMemberEquals(message, "evt", "ACTIVITY_JOIN_REQUEST")) {
        record_join_request(data);
    }
}

void record_connected() { eventRecords.connectedPending.exchange(true); }

void record_disconnected(int code, const char* message) {
    std::lock_guard<std::mutex> guard(eventRecords.recordLock);
    eventRecords.disconnectEventCode = code;
    if (message != nullptr) copy_text(eventRecords.disconnectEventText, kEventTextSize, message);
    eventRecords.disconnectedPending.exchange(true);
}

bool take_event(std::atomic<bool>& pending, const int* code, const char* text, EventText& out) {
    std::lock_guard<std::mutex> guard(eventRecords.recordLock);
    if (!pending.exchange(false)) return false;
    out.code = code != nullptr ? *code : 0;
    copy_text(out.text, sizeof out.text, text);
    return true;
}
