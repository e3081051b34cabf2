// The cost of one poll of a presence script against a real process: a script
// that reads a 40-byte block and builds its presence, and one whose poll
// raises an error. Each as the companion polls (no error text) and as the
// probe polls (the error text with its traceback asked for), so that the
// figures show what the companion pays for what the probe can show.
#include <benchmark/benchmark.h>

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
    return 0;
}
