// `run PID SCRIPT [--every SECONDS] [--count N] [--json]`: the script loaded
// and polled by the companion's own script host and poll, each poll shown
// with the request the presence client would build from it (the same
// serializer, the same nonce counter) and with what it cost.

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "rpc/pipe_transport.h"
#include "rpc/request_writer.h"
#include "rpc/serialization.h"
#include "script/presence_poll.h"
#include "script/script_host.h"
#include "tools/probe/command_support.h"
#include "tools/probe/probe_arguments.h"
#include "tools/probe/probe_commands.h"
#include "tools/probe/probe_report.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The request the client stores for `presence` (null: a cleared presence),
// taking the next nonce as the client does.
std::string BuildRequest(const RichPresence* presence) {
    std::string request(detail::kRequestCapacity, '\0');
    request.resize(build_set_activity(&request[0], request.size(), take_nonce(), CurrentProcessId(), presence));
    return request;
}

PollReport PollOnce(ScriptHost& host, std::uint64_t number) {
    PollReport report;
    report.number = number;
    host.memoryCounters = MemoryCounters{};
    const Clock::time_point start = Clock::now();
    report.published = PollPresence(
        host, [&report](const RichPresence& presence) { report.request = BuildRequest(&presence); },
        &report.reason);
    report.cost.milliseconds = MillisecondsSince(start);
    report.cost.counters = host.memoryCounters;
    // A failed poll makes the companion clear the presence.
    if (!report.published) report.request = BuildRequest(nullptr);
    return report;
}

struct RunOptions {
    std::uint64_t polls = 1;
    std::uint32_t intervalMs = kDefaultIntervalMs;
    bool json = false;
};

bool ParseRunOptions(const CommandArguments& split, RunOptions& options, std::string& error) {
    const auto every = split.values.find("--every");
    const auto count = split.values.find("--count");
    if (every != split.values.end()) {
        const std::optional<std::uint32_t> ms = ParseSecondsAsMilliseconds(every->second);
        if (!ms) {
            error = "not a number of seconds between 0.001 and 86400: " + every->second;
            return false;
        }
        options.intervalMs = *ms;
        options.polls = std::numeric_limits<std::uint64_t>::max();  // until the game ends
    }
    if (count != split.values.end()) {
        const std::optional<std::uint64_t> polls = ParseCount(count->second);
        if (!polls) {
            error = "not a number of polls: " + count->second;
            return false;
        }
        options.polls = *polls;
    }
    options.json = split.flags.count("--json") != 0;
    return true;
}

}  // namespace

int RunCommand(const std::vector<std::string>& arguments) {
    CommandArguments split;
    std::string error;
    RunOptions options;
    if (!SplitArguments(arguments, {"--every", "--count"}, {"--json"}, split, error) ||
        !ParseRunOptions(split, options, error)) {
        return UsageError("run", error);
    }
    if (split.positional.size() != 2) return UsageError("run", "run takes a process id and a script");
    int exitCode = kExitDone;
    ProcessInfo info;
    std::unique_ptr<TargetProcess> target = OpenTargetArgument("run", split.positional[0], info, exitCode);
    if (!target) return exitCode;
    // The script runs only under the Architecture its companion would give it.
    const TargetReport report{TargetLine(info), info.pid, info.name, info.bitness,
                              LauncherCompanionArchitecture(info.bitness), ScriptArchitecture()};
    PrintTarget(report, options.json);
    if (std::string(report.companion) != report.architecture) {
        std::fprintf(stderr,
                     "corvane-probe: the launcher starts the %s companion for this process, whose scripts see "
                     "Architecture \"%s\", not \"%s\": run corvane-probe_%s instead\n",
                     report.companion, report.companion, report.architecture, report.companion);
        return kExitOtherProbe;
    }

    LoadReport load;
    load.script = split.positional[1];
    const Clock::time_point start = Clock::now();
    std::unique_ptr<ScriptHost> host = CreateScriptHost(load.script.c_str(), target.get(), &load.error);
    load.cost.milliseconds = MillisecondsSince(start);
    load.loaded = host != nullptr;
    if (host) load.cost.counters = host->memoryCounters;
    PrintLoad(load, options.json);
    if (!host) return kExitFailed;

    for (std::uint64_t number = 1;; ++number) {
        PrintPoll(PollOnce(*host, number), options.json);
        if (number == options.polls) break;
        const TargetWait wait = WaitForTarget(*target, options.intervalMs);
        if (wait == TargetWait::Ended) {
            PrintGameEnded(options.json);
            break;
        }
        if (wait == TargetWait::Failed) {
            std::fprintf(stderr, "corvane-probe: waiting on the process failed\n");
            return kExitFailed;
        }
    }
    host.reset();  // the script functions point at the target, which goes last
    return kExitDone;
}
