#include "rpc/message_document.h"

#include <cstring>

namespace {

// The document's parse stack holds every value the parser has read but not yet
// moved into the document: each container still open and each key and value
// already read inside those containers. The fixed stack holds this many.
constexpr std::size_t kStackValues = FixedBumpAllocator::kCapacity / sizeof(MessageJson::ValueType);

bool IsStructural(char c) {
    return c == '{' || c == '}' || c == '[' || c == ']' || c == ',' || c == ':' || c == '"' || c == ' ' ||
           c == '\t' || c == '\n' || c == '\r';
}

// Walks the text as the parser meets its values and tells whether the values
// pending at any moment fit the parse stack. The parser does not check a
// failed stack allocation, so a text that does not fit must never reach it.
// For valid JSON the count is exact; for anything malformed it can only come
// out higher than what the parser pushes before it stops at the fault.
bool FitsParseStack(const char* text) {
    std::size_t pending = 0;
    std::size_t pendingWhenOpened[kStackValues];  // one per open container; each adds one to `pending`
    std::size_t depth = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        switch (*p) {
        case ' ': case '\t': case '\n': case '\r': case ',': case ':':
            continue;
        case '}': case ']':
            if (depth > 0) pending = pendingWhenOpened[--depth];  // its members collapse into it
            continue;
        case '{': case '[':
            if (++pending > kStackValues) return false;
            pendingWhenOpened[depth++] = pending;
            continue;
        case '"':
            if (++pending > kStackValues) return false;
            for (++p;; p += 2) {  // steps over an escape's backslash and the byte after it
                p += std::strcspn(p, "\"\\");
                if (*p != '\\' || p[1] == '\0') break;
            }
            if (*p == '\0') return true;
            continue;
        default:  // a number or a literal runs up to the next structural byte
            if (++pending > kStackValues) return false;
            while (p[1] != '\0' && !IsStructural(p[1])) ++p;
            continue;
        }
    }
    return true;
}

}  // namespace

bool MessageDocument::ParseInPlace(char* text) {
    if (text == nullptr) {
        SetObject();
        return false;
    }
    return ParseInPlace(text, std::strlen(text));
}

bool MessageDocument::ParseInPlace(char* text, std::size_t length) {
    bool parsed = false;
    if (text != nullptr && std::memchr(text, '\0', length) == nullptr && FitsParseStack(text)) {
        // Each parse returns its stack to the allocator only by forgetting it,
        // so the buffer is handed out afresh for this one.
        parseStack.Reset();
        MessageJson::ParseInsitu(text);
        parsed = !HasParseError();
    }
    if (!parsed) SetObject();
    return parsed;
}

const MessageValue* Member(const MessageValue& object, const char* name) {
    if (!object.IsObject()) return nullptr;
    MessageValue::ConstMemberIterator member = object.FindMember(name);
    return member == object.MemberEnd() ? nullptr : &member->value;
}

const MessageValue* StringMember(const MessageValue& object, const char* name) {
    const MessageValue* value = Member(object, name);
    return (value != nullptr && value->IsString()) ? value : nullptr;
}

bool StringMemberEquals(const MessageValue& object, const char* name, const char* expected) {
    const MessageValue* value = StringMember(object, name);
    std::size_t length = std::strlen(expected);
    return value != nullptr && value->GetStringLength() == length &&
           std::memcmp(value->GetString(), expected, length) == 0;
}
