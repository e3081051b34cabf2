// The probe's value search on 1 GiB of a real process, each figure beside
// the raw read of the same memory:
// - the first scan: ScanForValue for a 32-bit integer over all the child's
//   writable memory (the 1 GiB block and the little else it has);
// - scanmem's search for the same 32-bit integer in the same process, less
//   a scanmem run that starts and ends without searching;
// - a rescan of 10,000 candidates spread evenly over the gigabyte.
// The raw read is process_vm_readv of the block in pieces of the scan's
// chunk and of 2 MiB, whichever is faster, into a buffer that starts
// on a page: the least work any reader of that memory does. Raw reads and
// scans alternate, so their ratio holds on a machine whose load changes.
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "scanmem_run.h"
#include "support/target_child_client.h"
#include "tools/probe/candidate_scan.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr std::uint64_t kPage = 4096;
constexpr std::uint64_t kBlockSize = 1ull << 30;
constexpr int kSamples = 5;
constexpr std::size_t kRescanCandidates = 10000;
constexpr int kRescans = 21;
// Random bytes hold this value hardly anywhere, as a first scan for a
// number a game shows finds it in few places.
const char* const kValue = "123456789";

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One raw pass over [start, start + size) in pieces of `piece` bytes.
bool RawRead(std::uint32_t pid, std::uint64_t start, std::uint64_t size, std::uint64_t piece) {
    static const std::unique_ptr<std::uint8_t, decltype(&std::free)> buffer(
        static_cast<std::uint8_t*>(std::aligned_alloc(kPage, 2u << 20)), &std::free);
    for (std::uint64_t at = start; at < start + size; at += piece) {
        iovec local{buffer.get(), static_cast<std::size_t>(piece)};
        iovec remote{reinterpret_cast<void*>(at), static_cast<std::size_t>(piece)};
        if (process_vm_readv(static_cast<pid_t>(pid), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(piece)) {
            return false;
        }
    }
    return true;
}

template <typename Work>
double SecondsOf(Work work) {
    const Clock::time_point before = Clock::now();
    if (!work()) return -1;
    return Seconds(Clock::now() - before).count();
}

}  // namespace

int main() {
    TargetChild child;
    if (!StartTargetChild({"rw*262144,random=3"}, child) || child.pageSize != kPage) {
        std::fprintf(stderr, "cannot start target_child: %s\n", child.error.c_str());
        return 1;
    }
    const std::uint32_t pid = child.process.Pid();
    const std::uint64_t start = child.blocks.at(0).address;
    std::unique_ptr<TargetProcess> target = OpenTarget(pid);
    SearchValue value;
    std::string error;
    if (target == nullptr || !ParseSearchValue(ValueType::I32, kValue, value, error)) {
        std::fprintf(stderr, "cannot open target_child\n");
        return 1;
    }

    std::vector<double> raw;
    std::vector<double> scans;
    std::uint64_t scanned = 0;
    for (int sample = 0; sample < kSamples; ++sample) {
        const double small = SecondsOf([&] { return RawRead(pid, start, kBlockSize, kValueScanChunk); });
        const double large = SecondsOf([&] { return RawRead(pid, start, kBlockSize, 2u << 20); });
        if (small < 0 || large < 0) {
            std::fprintf(stderr, "raw read failed\n");
            return 1;
        }
        raw.push_back(std::min(small, large));
        CandidateSet set;
        FirstScan scan;
        scans.push_back(SecondsOf([&] {
            scan = ScanForValue(*target, value, 1u << 20, set);
            return scan.listed;
        }));
        scanned = scan.bytesRead;
    }
    const double rawSeconds = Median(raw);
    const double scanSeconds = Median(scans);
    // The scan reads a little more than the block: it scales by its bytes.
    const double rawSpeed = static_cast<double>(kBlockSize) / rawSeconds;
    const double scanSpeed = static_cast<double>(scanned) / scanSeconds;

    // The candidates of a rescan: 10,000 places spread over the gigabyte,
    // with the values they hold.
    CandidateSet spread;
    spread.pid = pid;
    spread.type = ValueType::I32;
    spread.valueSize = 4;
    for (std::size_t i = 0; i < kRescanCandidates; ++i) {
        const std::uint64_t address = start + (i * (kBlockSize / kRescanCandidates) & ~std::uint64_t{3});
        std::uint8_t bytes[4];
        if (!ReadTargetMemory(*target, address, bytes, 4)) return 1;
        spread.addresses.push_back(address);
        spread.values.insert(spread.values.end(), bytes, bytes + 4);
    }
    RescanTest unchanged;
    unchanged.change = Change::Unchanged;
    std::vector<double> rescans;
    for (int i = 0; i < kRescans; ++i) {
        std::size_t kept = 0;
        rescans.push_back(SecondsOf([&] {
            kept = RescanCandidates(*target, spread, unchanged).kept.Count();
            return true;
        }));
        if (kept != kRescanCandidates) {
            std::fprintf(stderr, "the rescan lost candidates\n");
            return 1;
        }
    }

    double scanmemSpeed = 0;
    const std::string scanmem = OnSearchPath("scanmem");
    if (!scanmem.empty()) {
        const std::string options = "option scan_data_type int32;option region_scan_level 3;";
        Seconds searchRun{0};
        Seconds emptyRun{0};
        if (!TimeScanmem(scanmem, pid, options + kValue + ";exit", searchRun) ||
            !TimeScanmem(scanmem, pid, options + "exit", emptyRun)) {
            std::fprintf(stderr, "scanmem failed\n");
            return 1;
        }
        scanmemSpeed = static_cast<double>(kBlockSize) / (searchRun - emptyRun).count();
    }

    std::printf("\nValue scan of 1 GiB for a 32-bit integer (medians of %d; GB/s = 1e9 bytes per second)\n", kSamples);
    std::printf("  raw read                          %6.2f GB/s\n", rawSpeed / 1e9);
    std::printf("  first scan                        %6.2f GB/s   ratio to the raw read %.2f (goal: 0.8 or more)\n",
                scanSpeed / 1e9, scanSpeed / rawSpeed);
    if (scanmemSpeed > 0) {
        std::printf("  scanmem's value search            %6.2f GB/s   first scan / scanmem %.1f (goal: 10 or more)\n",
                    scanmemSpeed / 1e9, scanSpeed / scanmemSpeed);
    } else {
        std::printf("  scanmem's value search            not measured (scanmem is not installed)\n");
    }
    std::printf("  rescan of %zu candidates       %6.2f ms (median of %d)\n", kRescanCandidates,
                Median(rescans) * 1e3, kRescans);
    target.reset();
    return 0;
}
