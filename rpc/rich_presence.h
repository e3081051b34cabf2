#pragma once
// The presence record handed to the RPC client. The caller owns it and every
// text it points to; they need to stay valid only for the call that receives
// the record. A null or empty text and a zero integer mean "not set".

#include <cstdint>

struct RichPresence {
    const char* state = nullptr;
    const char* details = nullptr;
    std::int64_t startTime = 0;
    std::int64_t endTime = 0;
    const char* largeImageKey = nullptr;
    const char* largeImageText = nullptr;
    const char* smallImageKey = nullptr;
    const char* smallImageText = nullptr;
    const char* partyId = nullptr;
    std::int32_t partyCount = 0;
    std::int32_t partyCapacity = 0;
    const char* matchSecret = nullptr;
    const char* joinSecret = nullptr;
    const char* spectateSecret = nullptr;
    std::int8_t instance = 0;  // a flag: non-zero is true
};

// The record's text fields by the names presence scripts give them, in the
// record's order: the one list that reads a script's table and that tools
// fill a record from.
struct RichPresenceTextField {
    const char* name;
    const char* RichPresence::*member;
};

inline constexpr RichPresenceTextField kRichPresenceTextFields[] = {
    {"state", &RichPresence::state},
    {"details", &RichPresence::details},
    {"largeImageKey", &RichPresence::largeImageKey},
    {"largeImageText", &RichPresence::largeImageText},
    {"smallImageKey", &RichPresence::smallImageKey},
    {"smallImageText", &RichPresence::smallImageText},
    {"partyId", &RichPresence::partyId},
    {"matchSecret", &RichPresence::matchSecret},
    {"joinSecret", &RichPresence::joinSecret},
    {"spectateSecret", &RichPresence::spectateSecret},
};
