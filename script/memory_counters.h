#pragma once
// What a script's memory functions have done, counted as they run. The
// companion never reads the counts; a tool that shows what a poll cost (calls
// made, bytes read and scanned) resets them before the poll and reads them
// after it. Plain counters: the functions run on the state's one thread.

#include <cstdint>

struct MemoryCounters {
    std::uint64_t readCalls = 0;
    std::uint64_t bytesRead = 0;  // bytes that Read returned to the script
    std::uint64_t findCalls = 0;
    std::uint64_t bytesScanned = 0;  // bytes that Find's scans read from the target
    std::uint64_t moduleLookups = 0;  // GetModuleInfo calls
};
