#pragma once
// Which regions reads and scans may touch, decided from what each OS reports.
// Kept apart from the backends so the rules are tested natively.

#include <cstdint>

#include "address_space.h"

// From the State and Protect fields of a Windows memory query. Readable:
// committed, without the no-access or guard bit. Executable: exactly
// execute, execute-read or execute-read-write; execute-write-copy and any of
// them combined with a modifier bit (such as guard) do not count.
void ClassifyWindowsRegion(std::uint32_t state, std::uint32_t protect, MemoryRegion& region);

// From the permission field of a /proc/<pid>/maps line ("r-xp"). Readable:
// has 'r'. Executable: readable and has 'x' (r-x or rwx).
void ClassifyMapsRegion(const char* permissions, MemoryRegion& region);
