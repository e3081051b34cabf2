#pragma once
// What `run` shows of a script: its load and each poll, as text for a person
// or as one JSON object per line for an editor. Printed to the standard
// output at once, so that lines the script prints itself fall in between.

#include <cstdint>
#include <string>

#include "script/memory_counters.h"
#include "target/process_list.h"

// What running script code cost: its time and what its memory functions did.
struct ScriptCost {
    double milliseconds = 0;
    MemoryCounters counters;
};

struct LoadReport {
    std::string script;
    bool loaded = false;
    std::string error;  // with its traceback, when not loaded
    ScriptCost cost;
};

struct PollReport {
    std::uint64_t number = 0;  // from 1
    bool published = false;
    std::string reason;   // why the presence would be cleared
    std::string request;  // the SET_ACTIVITY request the client would send
    ScriptCost cost;
};

// The process `run` polls, and the companion the launcher would start for it.
struct TargetReport {
    std::string line;  // "process 14401 demo_game, 64-bit"
    std::uint32_t pid = 0;
    std::string name;
    Bitness bitness = Bitness::Unknown;
    const char* companion = "";     // "x64" or "x86"
    const char* architecture = "";  // what the probe's scripts see
};

void PrintTarget(const TargetReport& report, bool json);
void PrintLoad(const LoadReport& report, bool json);
void PrintPoll(const PollReport& report, bool json);
void PrintGameEnded(bool json);
