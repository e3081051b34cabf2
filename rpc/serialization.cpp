#include "rpc/serialization.h"

#include <atomic>
#include <charconv>

#include <rapidjson/writer.h>

#include "rpc/fixed_bump_allocator.h"

namespace {

std::atomic<std::int32_t> nextNonce{1};

// The writer's output: stores bytes while there is room and drops the rest,
// so a message longer than the buffer is cut at its capacity.
class FixedOutputBuffer {
public:
    typedef char Ch;

    FixedOutputBuffer(char* destination, std::size_t capacity)
        : begin_(destination), current_(destination), end_(destination + capacity) {}

    void Put(char c) {
        if (current_ < end_) *current_++ = c;
    }
    void Flush() {}
    std::size_t Length() const { return static_cast<std::size_t>(current_ - begin_); }

private:
    char* begin_;
    char* current_;
    char* end_;
};

using JsonWriter = rapidjson::Writer<FixedOutputBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, FixedBumpAllocator>;

// The writer sizes its nesting stack in levels; this many fill the whole
// fixed buffer at the first push.
struct WriterLevels : JsonWriter {
    static constexpr std::size_t kCount = FixedBumpAllocator::kCapacity / sizeof(Level);
};

// One build call: the output buffer, the memory of the writer's stack and
// the writer over them, all on the caller's stack.
struct MessageBuilder {
    FixedOutputBuffer output;
    FixedBumpAllocator stack;
    JsonWriter writer;

    MessageBuilder(char* destination, std::size_t capacity)
        : output(destination, capacity), writer(output, &stack, WriterLevels::kCount) {}

    void Member(const char* key, const char* text) {
        writer.Key(key);
        writer.String(text);
    }

    // A text field of the presence is written only when it is set.
    void OptionalMember(const char* key, const char* text) {
        if (IsSet(text)) Member(key, text);
    }

    static bool IsSet(const char* text) { return text != nullptr && text[0] != '\0'; }
};

// "nonce" is a JSON string holding the decimal number.
void put_nonce(JsonWriter& writer, std::int32_t nonce) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, nonce).ptr;
    writer.Key("nonce");
    writer.String(digits, static_cast<rapidjson::SizeType>(end - digits));
}

void PutActivity(MessageBuilder& out, const RichPresence& presence) {
    JsonWriter& w = out.writer;
    w.Key("activity");
    w.StartObject();
    out.OptionalMember("state", presence.state);
    out.OptionalMember("details", presence.details);

    if (presence.startTime != 0 || presence.endTime != 0) {
        w.Key("timestamps");
        w.StartObject();
        if (presence.startTime != 0) {
            w.Key("start");
            w.Int64(presence.startTime);
        }
        if (presence.endTime != 0) {
            w.Key("end");
            w.Int64(presence.endTime);
        }
        w.EndObject();
    }

    if (MessageBuilder::IsSet(presence.largeImageKey) || MessageBuilder::IsSet(presence.largeImageText) ||
        MessageBuilder::IsSet(presence.smallImageKey) || MessageBuilder::IsSet(presence.smallImageText)) {
        w.Key("assets");
        w.StartObject();
        out.OptionalMember("large_image", presence.largeImageKey);
        out.OptionalMember("large_text", presence.largeImageText);
        out.OptionalMember("small_image", presence.smallImageKey);
        out.OptionalMember("small_text", presence.smallImageText);
        w.EndObject();
    }

    if (MessageBuilder::IsSet(presence.partyId) || presence.partyCount != 0 || presence.partyCapacity != 0) {
        w.Key("party");
        w.StartObject();
        out.OptionalMember("id", presence.partyId);
        if (presence.partyCount != 0 && presence.partyCapacity != 0) {
            w.Key("size");
            w.StartArray();
            w.Int(presence.partyCount);
            w.Int(presence.partyCapacity);
            w.EndArray();
        }
        w.EndObject();
    }

    if (MessageBuilder::IsSet(presence.matchSecret) || MessageBuilder::IsSet(presence.joinSecret) ||
        MessageBuilder::IsSet(presence.spectateSecret)) {
        w.Key("secrets");
        w.StartObject();
        out.OptionalMember("match", presence.matchSecret);
        out.OptionalMember("join", presence.joinSecret);
        out.OptionalMember("spectate", presence.spectateSecret);
        w.EndObject();
    }

    w.Key("instance");
    w.Bool(presence.instance != 0);
    w.EndObject();
}

}  // namespace

std::int32_t take_nonce() { return nextNonce.fetch_add(1); }

std::size_t build_handshake(char* destination, std::size_t capacity, int version, const char* applicationId) {
    MessageBuilder out(destination, capacity);
    JsonWriter& w = out.writer;
    w.StartObject();
    w.Key("v");
    w.Int(version);
    out.Member("client_id", applicationId);
    w.EndObject();
    return out.output.Length();
}

std::size_t build_set_activity(char* destination, std::size_t capacity, std::int32_t nonce, int processId,
                               const RichPresence* presence) {
    MessageBuilder out(destination, capacity);
    JsonWriter& w = out.writer;
    w.StartObject();
    put_nonce(w, nonce);
    out.Member("cmd", "SET_ACTIVITY");
    w.Key("args");
    w.StartObject();
    w.Key("pid");
    w.Int(processId);
    if (presence != nullptr) PutActivity(out, *presence);
    w.EndObject();
    w.EndObject();
    return out.output.Length();
}

std::size_t build_subscribe(char* destination, std::size_t capacity, std::int32_t nonce, const char* eventName) {
    MessageBuilder out(destination, capacity);
    JsonWriter& w = out.writer;
    w.StartObject();
    put_nonce(w, nonce);
    out.Member("cmd", "SUBSCRIBE");
    out.Member("evt", eventName);
    w.EndObject();
    return out.output.Length();
}

std::size_t build_join_reply(char* destination, std::size_t capacity, const char* requesterId, int answer,
                             std::int32_t nonce) {
    MessageBuilder out(destination, capacity);
    JsonWriter& w = out.writer;
    w.StartObject();
    out.Member("cmd", answer == 1 ? "SEND_ACTIVITY_JOIN_INVITE" : "CLOSE_ACTIVITY_JOIN_REQUEST");
    w.Key("args");
    w.StartObject();
    out.Member("user_id", requesterId);
    w.EndObject();
    put_nonce(w, nonce);
    w.EndObject();
    return out.output.Length();
}
