#pragma once
// The demo game's state as it lies in memory. Presence scripts find it by its
// signature and decode the fields after it (little-endian).

#include <cstdint>

struct DemoGameState {
    char signature[16];     // "CorvaneDemoState", not terminated
    char mapName[24];       // terminated text
    std::int32_t level;
    std::int32_t score;
    std::int32_t partySize;
    std::int32_t partyCapacity;
};
static_assert(sizeof(DemoGameState) == 56, "scripts decode this layout byte by byte");
