// Scan throughput on a real process holding 256 MiB of pseudo-random data:
// the raw read of that memory in 2 MiB chunks, FindPattern end to end (reads
// plus matching) for a pattern that does not occur, and their ratio. Then the
// matcher alone, fast against the position-by-position compare, on random
// data and on inputs that are hard for it: memory full of the pattern's first
// byte, windows of which half pass the vector filter, and data built so that
// every window passes it.
#include <benchmark/benchmark.h>
#include <sys/uio.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "target/pattern_matcher.h"
#include "support/target_child_client.h"
#include "target/target_process.h"

namespace {

using detail::FindFirstByPosition;
using detail::PatternMatcher;

constexpr std::uint64_t kTargetBytes = 256ull << 20;
constexpr std::uint64_t kChunk = 2ull << 20;
constexpr std::size_t kMatcherBytes = 2u << 20;  // one chunk, as the scan hands it to the matcher

// Seven bytes, three fixed: 12 ?? ?? FF ?? ?? 34. The child's random bytes are
// never FF, so the pattern does not occur, while its first and last bytes
// pass the filter as often as random data makes them.
const BytePattern kAbsent{{0x12, 0, 0, 0xFF, 0, 0, 0x34}, {1, 0, 0, 1, 0, 0, 1}};
// First and last fixed byte equal: over memory full of that byte every
// window passes the filter and fails only on the middle byte.
const BytePattern kFilterDefeating{{0xAA, 0, 0, 0xBB, 0, 0, 0xAA}, {1, 0, 0, 1, 0, 0, 1}};

TargetChild child;
std::unique_ptr<TargetProcess> target;
std::uint64_t targetAddress = 0;

// One pass of raw reads over the child's data, 2 MiB at a time.
bool ReadAll() {
    static std::vector<std::uint8_t> buffer(kChunk);
    for (std::uint64_t offset = 0; offset < kTargetBytes; offset += kChunk) {
        iovec local{buffer.data(), kChunk};
        iovec remote{reinterpret_cast<void*>(targetAddress + offset), kChunk};
        if (process_vm_readv(static_cast<pid_t>(child.process.Pid()), &local, 1, &remote, 1, 0) !=
            static_cast<ssize_t>(kChunk)) {
            return false;
        }
    }
    benchmark::DoNotOptimize(buffer.data());
    return true;
}

// Raw reads and the end-to-end scan alternate within every iteration, so
// their ratio compares the two under the same conditions, even on a machine
// whose load changes.
void ReadsAgainstFindPattern(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    std::chrono::duration<double> readTime{0};
    std::chrono::duration<double> scanTime{0};
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        if (!ReadAll()) {
            state.SkipWithError("read failed");
            return;
        }
        const Clock::time_point read = Clock::now();
        std::uint64_t match = 0;
        if (FindPattern(*target, kAbsent, targetAddress, targetAddress + kTargetBytes, false, match)) {
            state.SkipWithError("the pattern occurs");
            return;
        }
        readTime += read - start;
        scanTime += Clock::now() - read;
    }
    const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(kTargetBytes);
    state.counters["raw_GBps"] = bytes / readTime.count() / 1e9;
    state.counters["scan_GBps"] = bytes / scanTime.count() / 1e9;
    state.counters["ratio"] = readTime.count() / scanTime.count();
}

std::vector<std::uint8_t> RandomBytes() {
    std::vector<std::uint8_t> data(kMatcherBytes);
    std::uint64_t state = 1;
    for (std::uint8_t& byte : data) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        byte = static_cast<std::uint8_t>((state >> 33) % 0xFF);
    }
    return data;
}

// Runs of six first bytes and six last bytes: half of all windows pass the
// filter, in runs that defeat branch prediction, and fail on the middle byte.
std::vector<std::uint8_t> AlternatingRuns() {
    std::vector<std::uint8_t> data(kMatcherBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = (i / 6) % 2 == 0 ? 0x12 : 0x34;
    return data;
}

struct MatcherInput {
    const char* name;
    const BytePattern* pattern;
    std::vector<std::uint8_t> data;
};

const std::vector<MatcherInput>& MatcherInputs() {
    static const std::vector<MatcherInput> inputs = {
        {"random", &kAbsent, RandomBytes()},
        {"first_byte", &kAbsent, std::vector<std::uint8_t>(kMatcherBytes, 0x12)},
        {"half_candidates", &kAbsent, AlternatingRuns()},
        {"filter_defeating", &kFilterDefeating, std::vector<std::uint8_t>(kMatcherBytes, 0xAA)},
    };
    return inputs;
}

void MatcherFast(benchmark::State& state) {
    const MatcherInput& input = MatcherInputs()[static_cast<std::size_t>(state.range(0))];
    const PatternMatcher matcher(*input.pattern);
    for (auto _ : state) {
        benchmark::DoNotOptimize(matcher.FindFirst(input.data.data(), input.data.size()));
    }
    state.SetLabel(input.name);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.data.size()));
}

void MatcherByPosition(benchmark::State& state) {
    const MatcherInput& input = MatcherInputs()[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state) {
        benchmark::DoNotOptimize(FindFirstByPosition(*input.pattern, input.data.data(), input.data.size()));
    }
    state.SetLabel(input.name);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.data.size()));
}

// Keeps the median figures of every benchmark for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name != "median") continue;
            const std::string name =
                run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
            for (const auto& counter : run.counters)
                medians[name + ":" + counter.first] = counter.second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> medians;  // by "benchmark:counter"
};

void PrintSummary(const std::map<std::string, double>& medians) {
    auto at = [&](const std::string& name) {
        const auto found = medians.find(name);
        return found == medians.end() ? 0.0 : found->second;
    };
    std::printf("\nSummary (medians; GB/s = 1e9 bytes per second; vector filter: %s)\n",
                PatternMatcher::FilterName(PatternMatcher::BestFilter()));
    std::printf("  raw read, 2 MiB chunks          %6.2f GB/s\n", at("ReadsAgainstFindPattern:raw_GBps"));
    std::printf("  FindPattern end to end          %6.2f GB/s\n", at("ReadsAgainstFindPattern:scan_GBps"));
    std::printf("  ratio end to end / raw          %6.2f\n", at("ReadsAgainstFindPattern:ratio"));
    std::printf("  matcher alone on one chunk      fast          by position   fast / by position\n");
    for (std::size_t i = 0; i < MatcherInputs().size(); ++i) {
        const double fast = at("MatcherFast/" + std::to_string(i) + ":bytes_per_second") / 1e9;
        const double plain = at("MatcherByPosition/" + std::to_string(i) + ":bytes_per_second") / 1e9;
        std::printf("    %-28s %6.2f GB/s   %6.2f GB/s   %6.1f\n", MatcherInputs()[i].name, fast, plain,
                    plain > 0 ? fast / plain : 0.0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string pages = std::to_string(kTargetBytes / 4096);
    if (!StartTargetChild({"rw*" + pages + ",random=1"}, child) || child.pageSize != 4096) {
        std::fprintf(stderr, "cannot start target_child: %s\n", child.error.c_str());
        return 1;
    }
    target = OpenTarget(child.process.Pid());
    if (target == nullptr) {
        std::fprintf(stderr, "cannot open target_child\n");
        return 1;
    }
    targetAddress = child.blocks.at(0).address;

    benchmark::RegisterBenchmark("ReadsAgainstFindPattern", ReadsAgainstFindPattern)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true)
        ->UseRealTime();
    for (int i = 0; i < static_cast<int>(MatcherInputs().size()); ++i) {
        benchmark::RegisterBenchmark("MatcherFast", MatcherFast)
            ->Arg(i)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark("MatcherByPosition", MatcherByPosition)
            ->Arg(i)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter.medians);
    target.reset();
    benchmark::Shutdown();
    return 0;
}
