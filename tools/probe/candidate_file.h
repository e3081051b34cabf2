#pragma once
// The candidates of a value search, kept in a file between `scan` and the
// `rescan`s that narrow them: the process, the type, and for each candidate
// its address and the value it held when last read.
//
// The file is a short text header ("corvane-probe candidates", then pid,
// type, size of a value and count, one a line) followed by the records,
// each the address as 8 bytes little-endian and the value's bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/probe/value_search.h"

struct CandidateSet {
    std::uint32_t pid = 0;
    ValueType type = ValueType::I32;
    std::size_t valueSize = 0;
    std::vector<std::uint64_t> addresses;  // ascending
    std::vector<std::uint8_t> values;      // valueSize bytes per address, in the same order

    std::size_t Count() const { return addresses.size(); }
    const std::uint8_t* Value(std::size_t i) const { return values.data() + i * valueSize; }
};

// Writes the set to a file beside `path`, then puts it in place of `path`,
// so a failed write leaves the file as it was. False with `error` set.
bool SaveCandidates(const std::string& path, const CandidateSet& set, std::string& error);

// False with `error` set when the file cannot be read or is not a whole
// candidate file.
bool LoadCandidates(const std::string& path, CandidateSet& set, std::string& error);
