#pragma once
// One parsed incoming message: a RapidJSON document whose first 32 KiB pool
// chunk and 2048-byte parse stack live inside the object, so a typical
// message is parsed without touching the heap. Payloads are parsed in situ:
// the document's strings point into the payload, which must stay untouched
// while the document is used.

#include <cstddef>

#include <rapidjson/allocators.h>
#include <rapidjson/document.h>

#include "rpc/fixed_bump_allocator.h"

using MessagePoolAllocator = rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>;
using MessageJson = rapidjson::GenericDocument<rapidjson::UTF8<>, MessagePoolAllocator, FixedBumpAllocator>;

namespace detail {
// Constructed before the document that uses it (base-from-member).
struct MessageDocumentStorage {
    static constexpr std::size_t kPoolChunkSize = 32768;
    char poolBuffer[kPoolChunkSize];
    FixedBumpAllocator parseStack;
    MessagePoolAllocator pool{poolBuffer, sizeof poolBuffer, kPoolChunkSize};
};
}  // namespace detail

class MessageDocument : private detail::MessageDocumentStorage, public MessageJson {
public:
    MessageDocument() : MessageJson(&pool, FixedBumpAllocator::kCapacity, &parseStack) { SetObject(); }
    MessageDocument(const MessageDocument&) = delete;
    MessageDocument& operator=(const MessageDocument&) = delete;

    // Parses `text` (NUL-terminated, modified in place) as one JSON value.
    // Any failure, including nesting deeper than the fixed parse stack can
    // hold, leaves an empty object. Returns whether the parse succeeded.
    bool ParseInPlace(char* text);
    // The same for a text of `length` bytes with a NUL byte at text[length];
    // a NUL byte inside the text makes it invalid JSON.
    bool ParseInPlace(char* text, std::size_t length);

private:
    // The library's own entry points would bypass the checks above; a copying
    // parse would even share the fixed stack with the reader and overrun it.
    using MessageJson::Parse;
    using MessageJson::ParseInsitu;
    using MessageJson::ParseStream;
};

// Member lookup on a parsed message. A member counts as missing when the
// value is not an object or has no member of that name; a string member
// also when the member is not a string.
using MessageValue = MessageJson::ValueType;
const MessageValue* Member(const MessageValue& object, const char* name);
const MessageValue* StringMember(const MessageValue& object, const char* name);
// The string member exists and holds exactly these bytes.
bool StringMemberEquals(const MessageValue& object, const char* name, const char* expected);
