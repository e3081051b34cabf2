// Scan speed on real processes, each figure a ratio to the raw read speed of
// the same memory, and the matcher alone.
//
// The raw read is process_vm_readv of each mapping of the child's data in
// pieces of at most 2 MiB, one call per piece, at addresses known
// beforehand: the least work any reader of that memory does. Against it:
// - the first search in a fresh process: scan_first_search, started anew
//   for every sample, times its one FindPattern (a script finds once and
//   keeps the address, so this is the search that counts);
// - later searches: FindPattern again and again in this process;
// - many mappings: the same search over 1 GiB held in 32,768 mappings;
// - scanmem, where it is installed: its byte-array search of the same
//   256 MiB for the same pattern, as a stand-alone scanner does it.
// All searches are for a pattern that does not occur (absent_pattern.h), so
// each reads everything. Raw reads and searches alternate within every
// sample, so their ratio holds on a machine whose load changes.
//
// The matcher alone, fast against the position-by-position compare, runs on
// random data and on inputs that are hard for it: memory full of the
// pattern's first byte, windows of which half pass the vector filter, and
// data built so that every window passes it.
#include <benchmark/benchmark.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "absent_pattern.h"
#include "scanmem_run.h"
#include "support/child_process.h"
#include "support/target_child_client.h"
#include "target/pattern_matcher.h"
#include "target/target_process.h"

namespace {

using detail::FindFirstByPosition;
using detail::PatternMatcher;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr std::uint64_t kPage = 4096;
constexpr std::uint64_t kChunk = 2ull << 20;
constexpr std::size_t kMatcherBytes = 2u << 20;  // one chunk, as the scan hands it to the matcher

// First and last fixed byte equal: over memory full of that byte every
// window passes the filter and fails only on the middle byte.
const BytePattern kFilterDefeating{{0xAA, 0, 0, 0xBB, 0, 0, 0xAA}, {1, 0, 0, 1, 0, 0, 1}};

// A child whose data the benchmarks search, opened as a target.
struct SearchedChild {
    TargetChild child;
    std::unique_ptr<TargetProcess> target;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::vector<iovec> pieces;  // the raw read: each mapping in pieces of at most 2 MiB

    bool Start(const std::string& block, std::uint64_t mappingSize) {
        if (!StartTargetChild({block}, child) || child.pageSize != kPage) {
            std::fprintf(stderr, "cannot start target_child: %s\n", child.error.c_str());
            return false;
        }
        target = OpenTarget(child.process.Pid());
        if (target == nullptr) {
            std::fprintf(stderr, "cannot open target_child\n");
            return false;
        }
        start = child.blocks.at(0).address;
        end = start + child.blocks.at(0).size;
        for (std::uint64_t mapping = start; mapping < end; mapping += mappingSize) {
            for (std::uint64_t at = mapping; at < mapping + mappingSize; at += kChunk) {
                const std::uint64_t size = std::min(kChunk, mapping + mappingSize - at);
                pieces.push_back(iovec{reinterpret_cast<void*>(at), static_cast<std::size_t>(size)});
            }
        }
        return true;
    }

    double Bytes() const { return static_cast<double>(end - start); }

    // One pass of raw reads; false when one of them comes up short. The
    // buffer starts on a page, as the pieces do: the kernel's copy slows to a
    // third on this processor when the destination lies a few bytes past the
    // source's alignment, and a buffer from the allocator may.
    bool ReadAll() const {
        static const std::unique_ptr<std::uint8_t, decltype(&std::free)> buffer(
            static_cast<std::uint8_t*>(std::aligned_alloc(kPage, kChunk)), &std::free);
        for (const iovec& piece : pieces) {
            iovec local{buffer.get(), piece.iov_len};
            if (process_vm_readv(static_cast<pid_t>(child.process.Pid()), &local, 1, &piece, 1, 0) !=
                static_cast<ssize_t>(piece.iov_len)) {
                return false;
            }
        }
        benchmark::DoNotOptimize(buffer.get());
        return true;
    }

    // Times a raw pass, adding it to `readTime`.
    bool TimeRawRead(Seconds& readTime) const {
        const Clock::time_point before = Clock::now();
        if (!ReadAll()) return false;
        readTime += Clock::now() - before;
        return true;
    }
};

SearchedChild plain;  // 256 MiB of random bytes in one mapping
SearchedChild many;   // 1 GiB of random bytes in 32,768 mappings of 32 KiB

void SetRatio(benchmark::State& state, double bytes, Seconds readTime, Seconds scanTime) {
    state.counters["raw_GBps"] = bytes / readTime.count() / 1e9;
    state.counters["scan_GBps"] = bytes / scanTime.count() / 1e9;
    state.counters["ratio"] = readTime.count() / scanTime.count();
}

// Later searches: FindPattern in this process, after the first.
void LaterSearches(benchmark::State& state, const SearchedChild* searched) {
    Seconds readTime{0};
    Seconds scanTime{0};
    std::uint64_t match = 0;
    FindPattern(*searched->target, kAbsentPattern, searched->start, searched->end, false, match);  // the first
    for (auto _ : state) {
        if (!searched->TimeRawRead(readTime)) return state.SkipWithError("read failed");
        const Clock::time_point before = Clock::now();
        if (FindPattern(*searched->target, kAbsentPattern, searched->start, searched->end, false, match)) {
            return state.SkipWithError("the pattern occurs");
        }
        scanTime += Clock::now() - before;
    }
    SetRatio(state, static_cast<double>(state.iterations()) * searched->Bytes(), readTime, scanTime);
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

// The first search of a fresh scan_first_search process, as it reports it.
bool TimeFirstSearch(const SearchedChild& searched, Seconds& scanTime) {
    ChildProcess searcher;
    if (!searcher.Start(ProgramBesideThisOne("scan_first_search"),
                        {std::to_string(searched.child.process.Pid()), Hex(searched.start), Hex(searched.end)})) {
        return false;
    }
    std::string line;
    long long nanoseconds = 0;
    int found = 1;
    if (!searcher.ReadLine(line) || std::sscanf(line.c_str(), "ns %lld found %d", &nanoseconds, &found) != 2 ||
        found != 0) {
        return false;
    }
    scanTime += std::chrono::nanoseconds(nanoseconds);
    return true;
}

void FirstSearch(benchmark::State& state) {
    Seconds readTime{0};
    Seconds scanTime{0};
    for (auto _ : state) {
        if (!plain.TimeRawRead(readTime)) return state.SkipWithError("read failed");
        if (!TimeFirstSearch(plain, scanTime)) return state.SkipWithError("scan_first_search failed");
    }
    SetRatio(state, static_cast<double>(state.iterations()) * plain.Bytes(), readTime, scanTime);
}

// scanmem's byte-array search over every region (which holds the 256 MiB
// block and little else), less a run that starts and ends without searching.
void Scanmem(benchmark::State& state, std::string scanmem) {
    const std::string options = "option scan_data_type bytearray;option region_scan_level 3;";
    Seconds readTime{0};
    Seconds searchRun{0};
    Seconds emptyRun{0};
    for (auto _ : state) {
        if (!plain.TimeRawRead(readTime)) return state.SkipWithError("read failed");
        const std::uint32_t pid = plain.child.process.Pid();
        if (!TimeScanmem(scanmem, pid, options + "12 ?? ?? ff ?? ?? 34;exit", searchRun) ||
            !TimeScanmem(scanmem, pid, options + "exit", emptyRun)) {
            return state.SkipWithError("scanmem failed");
        }
    }
    SetRatio(state, static_cast<double>(state.iterations()) * plain.Bytes(), readTime, searchRun - emptyRun);
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
        {"random", &kAbsentPattern, RandomBytes()},
        {"first_byte", &kAbsentPattern, std::vector<std::uint8_t>(kMatcherBytes, 0x12)},
        {"half_candidates", &kAbsentPattern, AlternatingRuns()},
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
    std::printf("  search, as a ratio to the raw read of the same memory (goal: 0.85 or more)\n");
    std::printf("                                          ratio    search      raw read\n");
    const struct {
        const char* what;
        const char* benchmark;
    } searches[] = {
        {"first search in a fresh process", "FirstSearch"},
        {"later searches", "LaterSearches/plain"},
        {"1 GiB in 32,768 mappings", "LaterSearches/many_mappings"},
        {"scanmem byte-array search", "Scanmem"},
    };
    for (const auto& search : searches) {
        const std::string name = search.benchmark;
        if (at(name + ":ratio") == 0) {
            std::printf("    %-36s   not measured (scanmem is not installed)\n", search.what);
            continue;
        }
        std::printf("    %-36s %6.2f  %6.2f GB/s  %6.2f GB/s\n", search.what, at(name + ":ratio"),
                    at(name + ":scan_GBps"), at(name + ":raw_GBps"));
    }
    std::printf("  matcher alone on one chunk      fast          by position   fast / by position\n");
    for (std::size_t i = 0; i < MatcherInputs().size(); ++i) {
        const double fast = at("MatcherFast/" + std::to_string(i) + ":bytes_per_second") / 1e9;
        const double plainSpeed = at("MatcherByPosition/" + std::to_string(i) + ":bytes_per_second") / 1e9;
        std::printf("    %-28s %6.2f GB/s   %6.2f GB/s   %6.1f\n", MatcherInputs()[i].name, fast, plainSpeed,
                    plainSpeed > 0 ? fast / plainSpeed : 0.0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!plain.Start("rw*65536,random=1", 256ull << 20) ||
        !many.Start("rw*8,r*8,repeat=16384,random=2", 32ull << 10)) {
        return 1;
    }

    benchmark::RegisterBenchmark("FirstSearch", FirstSearch)
        ->Iterations(3)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true)
        ->UseRealTime();
    benchmark::RegisterBenchmark("LaterSearches/plain", LaterSearches, &plain)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true)
        ->UseRealTime();
    benchmark::RegisterBenchmark("LaterSearches/many_mappings", LaterSearches, &many)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true)
        ->UseRealTime();
    const std::string scanmem = OnSearchPath("scanmem");
    if (!scanmem.empty()) {
        benchmark::RegisterBenchmark("Scanmem", Scanmem, scanmem)
            ->Iterations(1)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true)
            ->UseRealTime();
    }
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
    plain.target.reset();
    many.target.reset();
    benchmark::Shutdown();
    return 0;
}
