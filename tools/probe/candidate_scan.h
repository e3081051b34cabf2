#pragma once
// The searches behind `scan` and `rescan`: the first over all the target's
// writable memory, the later ones over the pages of the candidates kept.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "target/target_process.h"
#include "tools/probe/candidate_file.h"
#include "tools/probe/value_search.h"

struct FirstScan {
    bool listed = false;         // the memory could be listed
    std::uint64_t count = 0;     // every match, kept or not
    std::uint64_t bytesRead = 0;
};

// The first scan reads the target's memory in chunks of this size and
// searches each right after its read, while it is still in the processor's
// cache: large enough that the OS call per chunk costs little, small enough
// for a core's second-level cache (1 MiB ran at 0.9 of the raw read on a
// 2 MiB cache, 256 KiB at 0.7).
constexpr std::size_t kValueScanChunk = 1u << 20;

// Every place in the target's writable memory that holds the value, the
// first `maxKept` of them added to `set` (whose pid, type and size it sets).
FirstScan ScanForValue(TargetProcess& target, const SearchValue& value, std::size_t maxKept, CandidateSet& set);

// What a rescan keeps: a change since the value kept, or else the value.
struct RescanTest {
    std::optional<Change> change;
    SearchValue value;
};

struct Rescan {
    CandidateSet kept;                 // with the values read now
    std::vector<std::uint8_t> before;  // the values they held before, in the same order
    std::size_t gone = 0;              // candidates whose memory could not be read
};

// Reads the candidates' pages, many with one OS call, and keeps those that
// pass the test.
Rescan RescanCandidates(TargetProcess& target, const CandidateSet& set, const RescanTest& test);
