// The presence client in its steady state, against the reference service run
// as a child process: the time from rpc_update_presence until the service
// has printed the request (the I/O thread's wake, a turn that reads the
// previous answer and writes the request, and the service's own printing),
// and the heap allocations that the client makes meanwhile on any thread
// (its goal is none). Allocations are counted by
// replacing malloc and its relatives in this program; the benchmark's own
// code on the main thread is left out of the count.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "rpc/presence_client.h"
#include "support/service_log.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<long> allocations{0};
// True on the main thread except inside the client's own calls; every other
// thread, the client's I/O thread among them, is always counted.
thread_local bool benchmarkCode = false;

void count() {
    if (!benchmarkCode) allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
    count();
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    count();
    return __libc_calloc(n, size);
}
void* realloc(void* block, std::size_t size) {
    count();
    return __libc_realloc(block, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
    count();
    *result = __libc_memalign(alignment, size);
    return *result != nullptr ? 0 : 12;
}
void free(void* block) { __libc_free(block); }
}

namespace {

ServiceLog* service = nullptr;
int updates = 0;

// The client connected to a running service, its first presence delivered.
bool start_client() {
    char directory[] = "/tmp/corvane-bench-XXXXXX";
    if (mkdtemp(directory) == nullptr) return false;
    setenv("XDG_RUNTIME_DIR", directory, 1);
    service = new ServiceLog;
    if (!service->Start({})) return false;
    rpc_initialize("1234", nullptr, 0, nullptr);
    RichPresence presence;
    presence.state = "warming up";
    rpc_update_presence(&presence);
    return !service->WaitForText("warming up").empty();
}

void UpdateUntilServiceHasIt(benchmark::State& state) {
    RichPresence presence;
    presence.details = "In a match";
    presence.largeImageKey = "map";
    presence.partyId = "party";
    presence.partyCount = 2;
    presence.partyCapacity = 4;
    long before = allocations.load();
    for (auto _ : state) {
        // A wake that comes while the I/O thread is still in its turn is not
        // remembered (the update then waits for the end of the 500 ms wait),
        // so each update comes once the thread is back in its wait, as the
        // companion's updates 15 s apart always do.
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        state.ResumeTiming();
        std::string text = "update " + std::to_string(++updates);
        presence.state = text.c_str();
        benchmarkCode = false;
        rpc_update_presence(&presence);
        benchmarkCode = true;
        if (service->WaitForText("\"state\":\"" + text + "\"").empty()) {
            state.SkipWithError("the service did not print the update");
        }
    }
    state.counters["allocations_per_update"] =
        benchmark::Counter(static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(UpdateUntilServiceHasIt)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmarkCode = true;
    if (!start_client()) {
        std::fprintf(stderr, "client_benchmark: the client did not reach the reference service\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rpc_shutdown();
    delete service;
    return 0;
}
