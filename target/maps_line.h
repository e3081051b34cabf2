#pragma once
// The text of a Linux process's memory map: the lines of /proc/<pid>/maps and
// the VmFlags lines of /proc/<pid>/smaps. Parsing is kept apart from the
// Linux backend, which reads the files, so its rules are tested natively.

#include <cstdint>

namespace detail {

struct MapsLine {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    const char* permissions = "";  // "r-xp"
    const char* path = "";         // empty for anonymous memory; "[vvar]" for the kernel's own
};

// "start-end perms offset dev inode   path", numbers in hex; the path may
// hold spaces and may be missing. Cuts `line` (without its line end) into
// fields in place, so `parsed` points into it. False for a line that
// describes no mapping, such as the field lines between the mappings of
// smaps ("Size: 4 kB").
bool ParseMapsLine(char* line, MapsLine& parsed);

// True when `line` is the VmFlags line of smaps ("VmFlags: rd mr pf io de"),
// with `cannotBeRead` set when the flags mark memory that no read of another
// process ever reaches: `io` (I/O memory) or `pf` (raw page frames, as device
// mappings and the kernel's [vvar] are).
bool ParseVmFlags(const char* line, bool& cannotBeRead);

}  // namespace detail
