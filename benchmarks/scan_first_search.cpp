// scan_first_search PID START END: the first search of a fresh process, as a
// companion's script makes it. Opens the process, times one FindPattern of
// the benchmarks' absent pattern over [START, END) (hex), data included, and
// prints "ns NANOSECONDS found 0|1". Started anew by scan_benchmark for each
// sample, so nothing of an earlier search is warm.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "absent_pattern.h"
#include "target/target_process.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: scan_first_search PID START END\n");
        return 2;
    }
    const auto pid = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const std::uint64_t start = std::strtoull(argv[2], nullptr, 16);
    const std::uint64_t end = std::strtoull(argv[3], nullptr, 16);
    const std::unique_ptr<TargetProcess> target = OpenTarget(pid);
    if (target == nullptr) {
        std::fprintf(stderr, "cannot open process %u\n", pid);
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    std::uint64_t match = 0;
    const Clock::time_point before = Clock::now();
    const bool found = FindPattern(*target, kAbsentPattern, start, end, false, match);
    const Clock::time_point after = Clock::now();
    std::printf("ns %lld found %d\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(after - before).count()),
                found ? 1 : 0);
    return 0;
}
