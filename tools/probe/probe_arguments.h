#pragma once
// The probe's command line: the numbers it accepts and the options of each
// command. Every parser refuses what it does not fully understand, so a
// mistyped argument is reported instead of read as something else.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// An address or a size: decimal digits, or "0x" (or "0X") and hexadecimal
// digits. No sign, no blanks, nothing after the digits, at most 64 bits.
std::optional<std::uint64_t> ParseAddress(const std::string& text);

// A process id, decimal or 0x hexadecimal (as Wine's tools print them),
// from 1 to 4294967295.
std::optional<std::uint32_t> ParseProcessId(const std::string& text);

// A number of polls: decimal, at least 1.
std::optional<std::uint64_t> ParseCount(const std::string& text);

// A time in seconds, decimal with an optional fraction ("0.5"), as whole
// milliseconds: at least 1 ms and at most one day.
std::optional<std::uint32_t> ParseSecondsAsMilliseconds(const std::string& text);

// The arguments that follow a command, sorted out.
struct CommandArguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;  // options that take a value
    std::set<std::string> flags;                // options that stand alone
};

// Sorts `arguments` into positional ones and options. An option in
// `valueOptions` takes the next argument as its value (a later one wins);
// one in `flagOptions` stands alone. False, with `error` set, for an
// unknown option or a value that is missing.
bool SplitArguments(const std::vector<std::string>& arguments, const std::set<std::string>& valueOptions,
                    const std::set<std::string>& flagOptions, CommandArguments& split, std::string& error);
