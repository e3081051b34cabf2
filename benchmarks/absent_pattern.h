#pragma once
// The pattern the scan benchmarks search for. Seven bytes, three fixed:
// 12 ?? ?? FF ?? ?? 34. target_child's random bytes are never FF, so the
// pattern does not occur in its blocks and every search reads all of them,
// while the first and last bytes pass the matcher's filter as often as
// random data makes them.

#include "target/target_process.h"

inline const BytePattern kAbsentPattern{{0x12, 0, 0, 0xFF, 0, 0, 0x34}, {1, 0, 0, 1, 0, 0, 1}};
