// Every match of a pattern, found by the one search there is. The module
// listing depends on the OS and lives in the backends.

#include "target/target_listing.h"

void ForEachPatternMatch(TargetProcess& target, const BytePattern& pattern, std::uint64_t start,
                         std::uint64_t end, bool executableOnly, const std::function<bool(std::uint64_t)>& visit) {
    std::uint64_t match = 0;
    while (start < end && FindPattern(target, pattern, start, end, executableOnly, match)) {
        if (!visit(match) || match == UINT64_MAX) return;
        start = match + 1;
    }
}
