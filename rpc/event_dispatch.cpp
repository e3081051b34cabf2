// Classifying one incoming message and recording the events it carries.

#include "rpc/event_dispatch.h"

#include "rpc/client_state.h"
#include "rpc/fixed_text.h"

namespace detail {
namespace {

// A member of the kind asked for, or null: a member of another kind counts
// as absent, and so does any member of an absent object.
const MessageValue* ObjectMember(const MessageValue* object, const char* name) {
    const MessageValue* value = object != nullptr ? Member(*object, name) : nullptr;
    return value != nullptr && value->IsObject() ? value : nullptr;
}

const char* StringMemberText(const MessageValue* object, const char* name) {
    const MessageValue* value = object != nullptr ? StringMember(*object, name) : nullptr;
    return value != nullptr ? value->GetString() : nullptr;
}

// A JSON number that is an integer in the signed 32-bit range, else 0.
int IntegerMemberOrZero(const MessageValue* object, const char* name) {
    const MessageValue* value = object != nullptr ? Member(*object, name) : nullptr;
    return value != nullptr && value->IsInt() ? value->GetInt() : 0;
}

// Recorded even without data: code 0 and the empty text.
void RecordError(const MessageValue* data) {
    const char* message = StringMemberText(data, "message");
    eventRecords.error.Record(IntegerMemberOrZero(data, "code"), message != nullptr ? message : "");
}

void RecordSecret(TextEventRecord& record, const MessageValue* data) {
    const char* secret = StringMemberText(data, "secret");
    if (secret != nullptr) record.Record(0, secret);
}

void RecordJoinRequest(const MessageValue* data) {
    const MessageValue* user = ObjectMember(data, "user");
    const char* id = StringMemberText(user, "id");
    const char* username = StringMemberText(user, "username");
    if (id == nullptr || username == nullptr) return;

    JoinRequestEntry* entry = eventRecords.joinRequests.Reserve();
    if (entry == nullptr) return;  // 8 already wait for delivery: this request is lost
    CopyFixedText(entry->id, id);
    CopyFixedText(entry->username, username);
    // Entries are reused in turn; a request without a discriminator must not
    // show an earlier request's, so it gets the empty text.
    CopyFixedText(entry->discriminator, StringMemberText(user, "discriminator"));
    CopyFixedText(entry->avatar, StringMemberText(user, "avatar"));
    eventRecords.joinRequests.Commit();
}

}  // namespace

void dispatch_message(const MessageDocument& message) {
    if (!message.IsObject()) return;
    bool hasEvt = StringMember(message, "evt") != nullptr;
    bool hasNonce = StringMember(message, "nonce") != nullptr;
    const MessageValue* data = ObjectMember(&message, "data");

    if (hasNonce) {
        // A response to one of our own requests: only errors leave a trace.
        if (StringMemberEquals(message, "evt", "ERROR")) RecordError(data);
        return;
    }
    if (!hasEvt) return;
    if (StringMemberEquals(message, "evt", "ACTIVITY_JOIN")) {
        RecordSecret(eventRecords.join, data);
    } else if (StringMemberEquals(message, "evt", "ACTIVITY_SPECTATE")) {
        RecordSecret(eventRecords.spectate, data);
    } else if (StringMemberEquals(message, "evt", "ACTIVITY_JOIN_REQUEST")) {
        RecordJoinRequest(data);
    }
}

}  // namespace detail
