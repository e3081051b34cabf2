// The cost of one poll of a presence script against a real process: a script
// that reads a 40-byte block and builds its presence, and one whose poll
// raises an error. Each as the companion polls (no error text) and as the
// probe polls (the error text with its traceback asked for), so that the
// figures show what the companion pays for what the probe can show. Then the
// memory a script's state holds over many polls, as the companion makes them:
// the garbage of each poll stays until the collector's next cycle, which
// starts only once the heap has grown to about twice what is live, so the
// heap rises over the first polls and then keeps to the same range.
#include <benchmark/benchmark.h>
#include <lua.hpp>

#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "script/presence_poll.h"
#include "script/script_host.h"
#include "support/target_child_client.h"
#include "target/target_process.h"

namespace {

TargetChild child;
std::unique_ptr<TargetProcess> target;

// A script file in the temporary directory, removed at exit.
struct ScriptFileOnDisk {
    std::string path;
    explicit ScriptFileOnDisk(const std::string& name, const std::string& text)
        : path((std::filesystem::temp_directory_path() / name).string()) {
        std::ofstream(path) << text;
    }
    ~ScriptFileOnDisk() { std::remove(path.c_str()); }
};

std::unique_ptr<ScriptHost> LoadScript(const std::string& name, const std::string& text) {
    static std::vector<std::unique_ptr<ScriptFileOnDisk>> files;
    files.push_back(std::make_unique<ScriptFileOnDisk>(name, text));
    return CreateScriptHost(files.back()->path.c_str(), target.get());
}

std::string PublishingScript() {
    return "local block = " + std::to_string(child.blocks.at(0).address) +
           "\n"
           "function get_presence()\n"
           "  local bytes = Read(block, 40)\n"
           "  local map, level, score, party, capacity = string.unpack('<c24i4i4i4i4', bytes)\n"
           "  map = map:match('^[^%z]*')\n"
           "  return { details = 'Exploring ' .. map,\n"
           "           state = string.format('Level %d, party of %d/%d', level, party, capacity),\n"
           "           smallImageText = 'Score ' .. score }\n"
           "end\n";
}

const char* const kFailingScript =
    "local function decode(bytes) return string.unpack('<i4', bytes) end\n"
    "function get_presence() return { state = decode(nil) } end\n";

void Poll(benchmark::State& state, ScriptHost* host, bool withErrorText, bool expectPublished) {
    if (host == nullptr) {
        state.SkipWithError("the script did not load");
        return;
    }
    std::string error;
    std::size_t texts = 0;
    for (auto _ : state) {
        const bool published = PollPresence(
            *host, [&texts](const RichPresence& presence) { texts += presence.state != nullptr; },
            withErrorText ? &error : nullptr);
        if (published != expectPublished) {
            state.SkipWithError("unexpected poll result");
            return;
        }
    }
    benchmark::DoNotOptimize(texts);
}

constexpr const char* kDemoScript = CORVANE_DEMO_SCRIPT;

// The shipped demo script, on a second child that holds the demo game's state
// block: "CorvaneDemoState", "Harbor", level 1, score 0, party 1 of 4.
std::unique_ptr<ScriptHost> DemoScriptOnItsState() {
    static TargetChild game;
    static std::unique_ptr<TargetProcess> gameTarget;
    if (!StartTargetChild({"rw*1,@0=436f7276616e6544656d6f5374617465,@16=486172626f72,"
                           "@40=01000000000000000100000004000000"},
                          game) ||
        (gameTarget = OpenTarget(game.process.Pid())) == nullptr) {
        return nullptr;
    }
    return CreateScriptHost(kDemoScript, gameTarget.get());
}

// The companion polls every 15 s: 24000 polls are 100 hours of it.
constexpr int kMemoryPolls = 24000;
// Close together at first, where the heap rises, then far apart.
bool IsMemoryReportPoll(int poll) {
    return poll == 10 || poll == 20 || poll == 40 || poll == 80 || poll == 160 || poll == 500 || poll % 4000 == 0;
}

// Lua's heap, highest and lowest over each stretch of polls, and the C
// heap's size and use at its end (the C heap holds Lua's and this program's).
void PrintMemoryOverPolls(ScriptHost* host) {
    if (host == nullptr) {
        std::fprintf(stderr, "the demo script did not load on its state block\n");
        return;
    }
    std::printf("\nMemory of the demo script's state over %d polls (the companion polls once each 15 s)\n",
                kMemoryPolls);
    std::printf("%8s %16s %16s %16s %16s\n", "polls", "Lua heap min kB", "Lua heap max kB", "C heap kB",
                "C heap in use kB");
    int lowest = lua_gc(host->state, LUA_GCCOUNT, 0);
    int highest = lowest;
    for (int poll = 1; poll <= kMemoryPolls; ++poll) {
        PollPresence(*host, [](const RichPresence&) {});
        const int now = lua_gc(host->state, LUA_GCCOUNT, 0);
        if (now < lowest) lowest = now;
        if (now > highest) highest = now;
        if (IsMemoryReportPoll(poll)) {
            const struct mallinfo2 heap = mallinfo2();
            std::printf("%8d %16d %16d %16zu %16zu\n", poll, lowest, highest, heap.arena / 1024,
                        heap.uordblks / 1024);
            lowest = highest = now;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // One page: "Harbor" at 0, then level 1, score 0, party 1 of 4.
    if (!StartTargetChild({"rw*1,@0=486172626f72,@24=01000000000000000100000004000000"}, child)) {
        std::fprintf(stderr, "cannot start target_child: %s\n", child.error.c_str());
        return 1;
    }
    target = OpenTarget(child.process.Pid());
    if (target == nullptr) {
        std::fprintf(stderr, "cannot open target_child\n");
        return 1;
    }
    std::unique_ptr<ScriptHost> publishing = LoadScript("corvane-poll-benchmark-1.lua", PublishingScript());
    std::unique_ptr<ScriptHost> failing = LoadScript("corvane-poll-benchmark-2.lua", kFailingScript);

    const struct {
        const char* name;
        ScriptHost* host;
        bool withErrorText;
        bool published;
    } polls[] = {
        {"PublishingPoll/companion", publishing.get(), false, true},
        {"PublishingPoll/probe", publishing.get(), true, true},
        {"FailingPoll/companion", failing.get(), false, false},
        {"FailingPoll/probe", failing.get(), true, false},
    };
    for (const auto& poll : polls) {
        benchmark::RegisterBenchmark(poll.name, Poll, poll.host, poll.withErrorText, poll.published)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintMemoryOverPolls(DemoScriptOnItsState().get());
    return 0;
}
