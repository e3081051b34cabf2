#pragma once
// Listings for tools that show a script author what the script's memory
// functions would see: every loaded module as FindModule sees it, and every
// place a pattern matches as FindPattern finds them.

#include <cstdint>
#include <functional>
#include <string>

#include "target/target_process.h"

// A loaded module: the exact name FindModule accepts, its base and size.
struct ModuleEntry {
    std::string name;
    std::uint64_t base = 0;
    std::uint64_t size = 0;
};

// Calls `visit` for each loaded module, in the order FindModule examines
// them, so that of two modules with the same name the first is the one
// FindModule returns. False when the modules cannot be listed, or when the
// listing had to stop early (FindModule then finds none of the rest either).
bool ListModules(TargetProcess& target, const std::function<void(const ModuleEntry&)>& visit);

// Calls `visit` with each address in [start, end) where the pattern matches,
// in ascending order, until it returns false: FindPattern, searched again
// from one byte past each match, so overlapping matches count.
void ForEachPatternMatch(TargetProcess& target, const BytePattern& pattern, std::uint64_t start,
                         std::uint64_t end, bool executableOnly, const std::function<bool(std::uint64_t)>& visit);
