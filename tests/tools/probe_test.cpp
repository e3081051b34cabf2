// corvane-probe as a script author runs it, against real processes: the demo
// game, target_child with copies of a signature placed by the test, and the
// companion with the reference service, whose received request the probe's
// must equal byte for byte.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "support/child_process.h"
#include "support/private_script_folder.h"
#include "support/script_test_support.h"
#include "support/service_log.h"
#include "support/target_child_client.h"
#include "probe_runner.h"
#include "target/target_process.h"
#include "tools/probe/candidate_scan.h"

namespace {

namespace fs = std::filesystem;
using namespace probe_runner;

const char* const kDemoApplicationId = "300000000000000001";
// A script of the test's own; the companion finds it in a folder of the test's
// own, never in the companion directory that other test programs share.
const char* const kProbeTestApplicationId = "300000000000000004";

fs::path CompanionDirectory() { return fs::path(PathBesideThisProgram("../dist/8a57342e5e")); }
std::string DemoScript() { return (CompanionDirectory() / "scripts" / (std::string(kDemoApplicationId) + ".lua")).string(); }

// The request line of a poll: the text output prints it on a line of its own.
std::string RequestOf(const ProbeResult& result) { return result.Line("{\"nonce\":"); }

// The demo game with its state fixed until the test steps it.
class DemoGame {
public:
    bool Start() {
        std::string line;
        return process_.Start(ProgramBesideThisOne("../tools/demo_game/demo_game"), {"--step-ms", "0", "--seconds", "120"}) &&
               process_.ReadLine(line);  // the first state is in place once it is printed
    }
    std::string Pid() const { return std::to_string(process_.Pid()); }
    bool Exit() { return process_.WriteLine("exit"); }

private:
    ChildProcess process_;
};

// What the companion sends as its first request for the game's state now,
// as the reference service prints it received ("frame 1 BODY"). The
// companion finds "scripts/<id>.lua" from its working directory.
std::string CompanionFirstRequest(DemoGame& game, const fs::path& workingDirectory, const std::string& applicationId,
                                  std::uint32_t& companionPid) {
    ServiceLog service;
    if (!service.Start({})) return "no service";
    const fs::path original = fs::current_path();
    fs::current_path(workingDirectory);
    ChildProcess companion;
    // This build's own companion: CorvaneTallowin_x64 or CorvaneTallowin_x86.exe.
    const std::string program = PathBesideThisProgram(std::string("../dist/8a57342e5e/") + COMPANION_FILE_NAME);
    const bool started = companion.Start(program, {game.Pid(), applicationId});
    fs::current_path(original);
    if (!started) return "no companion";
    companionPid = companion.Pid();
    const std::string frame = service.WaitFor([](const std::string& line) { return StartsWith(line, "frame 1 "); });
    companion.Kill();
    return frame.empty() ? "no request" : frame.substr(std::string("frame 1 ").size());
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST(Probe, PollRequestIsTheOneTheServiceReceivesFromTheCompanion) {
    const PrivateScriptFolder failing(std::string(kProbeTestApplicationId) + ".lua", "function get_presence() error('no game state') end\n");
    struct Case {
        const char* name;
        fs::path workingDirectory;
        const char* applicationId;
        bool published;
    };
    const Case cases[] = {
        {"the demo script publishes", CompanionDirectory(), kDemoApplicationId, true},
        {"a failing script clears", failing.Folder(), kProbeTestApplicationId, false},
    };
    DemoGame game;
    ASSERT_TRUE(game.Start());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint32_t companionPid = 0;
        const std::string received = CompanionFirstRequest(game, c.workingDirectory, c.applicationId, companionPid);
        const std::string script = (c.workingDirectory / "scripts" / (std::string(c.applicationId) + ".lua")).string();
        const ProbeResult probe = RunProbe({"run", game.Pid(), script});
        EXPECT_EQ(probe.exitCode, 0) << probe.Text();
        EXPECT_EQ(probe.Line("poll 1 ") != "" && Has(probe.Line("poll 1 "), "published"), c.published) << probe.Text();
        // Each request carries its sender's own process id; all else is the same.
        const std::string request = ReplaceAll(RequestOf(probe), "\"pid\":" + std::to_string(probe.pid) + "",
                                               "\"pid\":" + std::to_string(companionPid));
        EXPECT_EQ(request, received);
        EXPECT_TRUE(Has(received, c.published ? "\"details\":\"Exploring Harbor\"" : "\"args\":{\"pid\":")) << received;
    }
    EXPECT_TRUE(game.Exit());
}

TEST(Probe, RunPollsUntilTheCountOrTheGameEndsWithWhatEachPollCost) {
    DemoGame game;
    ASSERT_TRUE(game.Start());

    // --count with --every: exactly that many polls, nonces from 1, and the
    // found address reused after the first poll.
    const ProbeResult counted = RunProbe({"run", game.Pid(), DemoScript(), "--every", "0.05", "--count", "3", "--json"});
    EXPECT_EQ(counted.exitCode, 0) << counted.Text();
    ASSERT_EQ(counted.lines.size(), 5u) << counted.Text();  // the target, the load and three polls
    rapidjson::Document target;
    target.Parse(counted.lines[0].c_str());
    ASSERT_TRUE(target.IsObject()) << counted.lines[0];
    EXPECT_EQ(std::to_string(target["pid"].GetUint()), game.Pid());
    EXPECT_EQ(target["bits"].GetUint(), 8 * sizeof(void*));
    EXPECT_STREQ(target["companion"].GetString(), target["architecture"].GetString());
    rapidjson::Document load;
    load.Parse(counted.lines[1].c_str());
    ASSERT_TRUE(load.IsObject()) << counted.lines[1];
    EXPECT_TRUE(load["loaded"].GetBool());
    for (unsigned poll = 1; poll <= 3; ++poll) {
        SCOPED_TRACE(poll);
        rapidjson::Document report;
        report.Parse(counted.lines[poll + 1].c_str());
        ASSERT_TRUE(report.IsObject()) << counted.lines[poll + 1];
        EXPECT_EQ(report["poll"].GetUint64(), poll);
        EXPECT_TRUE(report["published"].GetBool());
        EXPECT_EQ(report["read_calls"].GetUint64(), 1u);
        EXPECT_EQ(report["bytes_read"].GetUint64(), 40u);  // the state after its signature
        EXPECT_EQ(report["find_calls"].GetUint64(), poll == 1 ? 1u : 0u);
        EXPECT_EQ(report["bytes_scanned"].GetUint64() > 0, poll == 1);
        EXPECT_EQ(report["module_lookups"].GetUint64(), 0u);
        EXPECT_GE(report["ms"].GetDouble(), 0.0);
        const std::string request = report["request"].GetString();
        EXPECT_TRUE(StartsWith(request, "{\"nonce\":\"" + std::to_string(poll) + "\",\"cmd\":\"SET_ACTIVITY\"")) << request;
    }

    // --every alone: polls until the game ends, then says so and ends with 0.
    ChildProcess probe;
    ASSERT_TRUE(probe.Start(ProbeProgram(), {"run", game.Pid(), DemoScript(), "--every", "0.05"}));
    std::string line;
    while (probe.ReadLine(line, kProbeWaitMs) && !StartsWith(line, "poll 2 ")) {
    }
    ASSERT_TRUE(StartsWith(line, "poll 2 published")) << line;
    ASSERT_TRUE(game.Exit());
    std::string last;
    while (probe.ReadLine(line, kProbeWaitMs)) last = line;
    EXPECT_EQ(last, "the game has ended");
    int exitCode = -1;
    EXPECT_TRUE(probe.Wait(kProbeWaitMs, exitCode));
    EXPECT_EQ(exitCode, 0);
}

// The script's errors as the probe shows them: the message and a traceback
// naming the script's file and the lines of the calls. The scripts are named
// relative to their directory, as the companion names its script: Lua cuts
// long file names in its messages.
TEST(Probe, ErrorsNameTheScriptsFileAndLine) {
    TargetChild child;
    ASSERT_TRUE(StartTargetChild({}, child)) << child.error;
    const std::string pid = std::to_string(child.process.Pid());
    auto nameOf = [](const ScriptFile& file) { return fs::path(file.Path()).filename().string(); };
    auto directoryOf = [](const ScriptFile& file) { return fs::path(file.Path()).parent_path(); };

    ScriptFile failingPoll(
        "-- decodes a score\n"
        "local function decode(bytes)\n"
        "  return string.unpack('<i4', bytes)\n"
        "end\n"
        "function get_presence()\n"
        "  local score = decode(Read(0, 4))\n"
        "  return { state = score }\n"
        "end\n");
    const std::string path = nameOf(failingPoll);
    const ProbeResult poll = RunProbe({"run", pid, path}, directoryOf(failingPoll));
    EXPECT_EQ(poll.exitCode, 0) << poll.Text();  // the script loaded; its poll failed
    EXPECT_TRUE(StartsWith(poll.Line("poll 1 "), "poll 1 cleared")) << poll.Text();
    EXPECT_EQ(poll.Line(path + ":"), path + ":3: bad argument #2 to 'unpack' (string expected, got nil)");
    EXPECT_EQ(poll.Line("stack traceback:"), "stack traceback:") << poll.Text();
    EXPECT_EQ(poll.LinesStartingWith("\t" + path + ":3: in ").size(), 1u) << poll.Text();
    EXPECT_EQ(poll.Line("\t" + path + ":6: in "), "\t" + path + ":6: in function 'get_presence'") << poll.Text();
    EXPECT_EQ(RequestOf(poll), "{\"nonce\":\"1\",\"cmd\":\"SET_ACTIVITY\",\"args\":{\"pid\":" + std::to_string(poll.pid) + "}}");

    ScriptFile failingLoad(
        "local ready = false\n"
        "if not ready then error('the game is not supported') end\n");
    const std::string loadPath = nameOf(failingLoad);
    const ProbeResult load = RunProbe({"run", pid, loadPath}, directoryOf(failingLoad));
    EXPECT_EQ(load.exitCode, 1);
    EXPECT_EQ(load.Line("failed to load "), "failed to load " + loadPath + ":");
    EXPECT_EQ(load.Line(loadPath), loadPath + ":2: the game is not supported");
    EXPECT_EQ(load.Line("\t" + loadPath), "\t" + loadPath + ":2: in main chunk");
    EXPECT_EQ(load.Line("poll "), "");  // no poll after a failed load

    // The same for an editor: one JSON object that carries the whole text.
    const ProbeResult loadJson = RunProbe({"run", pid, loadPath, "--json"}, directoryOf(failingLoad));
    EXPECT_EQ(loadJson.exitCode, 1);
    ASSERT_EQ(loadJson.lines.size(), 2u) << loadJson.Text();  // the target and the load
    rapidjson::Document report;
    report.Parse(loadJson.lines[1].c_str());
    ASSERT_TRUE(report.IsObject()) << loadJson.lines[1];
    EXPECT_FALSE(report["loaded"].GetBool());
    const std::string error = report["error"].GetString();
    EXPECT_EQ(error.rfind(loadPath + ":2: the game is not supported\nstack traceback:\n", 0), 0u) << error;
}

// --json stays JSON an editor can parse whatever bytes an error holds: each
// byte outside a UTF-8 sequence is shown as U+FFFD. (Paths: on Linux, where
// a command line may hold any bytes.)
TEST(Probe, JsonIsValidUtf8ForAnyBytesInErrors) {
    TargetChild child;
    ASSERT_TRUE(StartTargetChild({}, child)) << child.error;
    ScriptFile failing("error('bad \\xff\\xc3 state')\n");
    // Named relative to its directory: Lua cuts long names in its messages.
    const std::string name = fs::path(failing.Path()).filename().string();
    const ProbeResult result = RunProbe({"run", std::to_string(child.process.Pid()), name, "--json"},
                                        fs::path(failing.Path()).parent_path());
    EXPECT_EQ(result.exitCode, 1);
    ASSERT_EQ(result.lines.size(), 2u) << result.Text();  // the target and the load
    rapidjson::Document report;
    report.Parse<rapidjson::kParseValidateEncodingFlag>(result.lines[1].c_str());
    ASSERT_FALSE(report.HasParseError()) << result.lines[1];
    const std::string error = report["error"].GetString();
    EXPECT_EQ(error.rfind(name + ":1: bad \xEF\xBF\xBD\xEF\xBF\xBD state", 0), 0u) << error;
}

// Sixteen random bytes as pattern text, so that no other copy exists by chance.
std::string RandomSignature() {
    std::random_device random;
    std::string text;
    for (int i = 0; i < 16; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(random() & 0xFF));
        text += pair;
    }
    return text;
}

TEST(Probe, FindShowsWhatFindReturnsAndAllCountsThePlacedCopies) {
    const std::string signature = RandomSignature();
    TargetChild child;
    // Three copies in code (one across the border of its two pages) and one in data.
    ASSERT_TRUE(StartTargetChild({"rx*2,@0=" + signature + ",@100=" + signature + ",@4090=" + signature,
                                  "rw*1,@8=" + signature},
                                 child))
        << child.error;
    const std::string pid = std::to_string(child.process.Pid());
    const std::uint64_t code = child.blocks.at(0).address;
    const std::uint64_t data = child.blocks.at(1).address;

    // Without --all: the one address Find returns, the lowest in code.
    const ProbeResult first = RunProbe({"find", pid, signature});
    EXPECT_EQ(first.exitCode, 0) << first.Text();
    EXPECT_EQ(first.LinesStartingWith("0x"), std::vector<std::string>{Hex(code)});

    const ProbeResult all = RunProbe({"find", pid, signature, "--all"});
    EXPECT_EQ(all.exitCode, 0) << all.Text();
    EXPECT_EQ(all.LinesStartingWith("0x"), (std::vector<std::string>{Hex(code), Hex(code + 100), Hex(code + 4090)}));
    EXPECT_EQ(all.lines.back(), "3 matches: Find returns the first");

    // Data only with --data; the range options narrow the search.
    const ProbeResult inData = RunProbe({"find", pid, signature, "--all", "--data", "--start", Hex(data),
                                         "--end", std::to_string(data + child.pageSize)});
    EXPECT_EQ(inData.LinesStartingWith("0x"), std::vector<std::string>{Hex(data + 8)});
    EXPECT_EQ(inData.lines.back(), "1 match: the pattern is unique");
    const ProbeResult later = RunProbe({"find", pid, signature, "--all", "--start", Hex(code + 1)});
    EXPECT_EQ(later.LinesStartingWith("0x").size(), 2u) << later.Text();

    // Wildcards as in Find; no match ends with 1.
    const ProbeResult wildcard = RunProbe({"find", pid, signature.substr(0, 8) + "...." + signature.substr(12), "--all"});
    EXPECT_EQ(wildcard.LinesStartingWith("0x").size(), 3u) << wildcard.Text();
    const ProbeResult none = RunProbe({"find", pid, signature + "ff"});  // 00 follows every copy
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.lines.back(), "no match: Find returns nil");
}

TEST(Probe, ModulesAndFindNameModulesAsGetModuleInfoAcceptsThem) {
    TargetChild child;
    ASSERT_TRUE(StartTargetChild({}, child)) << child.error;
    const std::string pid = std::to_string(child.process.Pid());
    std::unique_ptr<TargetProcess> target = OpenTarget(child.process.Pid());
    ASSERT_TRUE(target);

    const ProbeResult modules = RunProbe({"modules", pid});
    EXPECT_EQ(modules.exitCode, 0) << modules.Text();
    for (const ChildModule* module : {&child.library, &child.executable}) {
        SCOPED_TRACE(module->name);
        std::uint64_t base = 0, size = 0;
        ASSERT_TRUE(FindModule(*target, module->name.c_str(), base, size));
        EXPECT_EQ(base, module->base);
        // "base size name", the name exactly as GetModuleInfo takes it.
        char expected[512];
        std::snprintf(expected, sizeof expected, "%-18s %-12s %s", Hex(base).c_str(), Hex(size).c_str(),
                      module->name.c_str());
        EXPECT_EQ(modules.Line(Hex(base) + " "), expected) << modules.Text();
    }

    // A match inside the program is shown as its name plus the offset.
    std::uint8_t code[16];
    ASSERT_TRUE(ReadTargetMemory(*target, child.executable.inside, code, sizeof code));
    std::string pattern;
    for (std::uint8_t byte : code) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        pattern += pair;
    }
    const ProbeResult found = RunProbe({"find", pid, pattern, "--start", Hex(child.executable.inside)});
    EXPECT_EQ(found.Line("0x"), Hex(child.executable.inside) + "  " + child.executable.name + "+" +
                                    Hex(child.executable.inside - child.executable.base));
    // So is one in its zero-initialised globals.
    const std::uint64_t global = child.zeroInitialisedGlobal;
    const ProbeResult inGlobals = RunProbe({"find", pid, std::string(32, '0'), "--data", "--start", Hex(global),
                                            "--end", Hex(global + 16)});
    EXPECT_EQ(inGlobals.Line("0x"), Hex(global) + "  " + child.executable.name + "+" + Hex(global - child.executable.base))
        << inGlobals.Text();
}

TEST(Probe, ReadDumpsExactlyWhatReadReturns) {
    TargetChild child;
    ASSERT_TRUE(StartTargetChild({"rw*1,@0=436f7276616e6500ff0a4c6576656c2031"}, child)) << child.error;
    const std::uint64_t block = child.blocks.at(0).address;
    const ProbeResult dump = RunProbe({"read", std::to_string(child.process.Pid()), Hex(block), "19"});
    EXPECT_EQ(dump.exitCode, 0) << dump.Text();
    std::string at = Hex(block);
    at.resize(18, ' ');
    std::string next = Hex(block + 16);
    next.resize(18, ' ');
    EXPECT_EQ(dump.lines, (std::vector<std::string>{
                              dump.lines.at(0),  // the target, as every command names it
                              at + " 43 6f 72 76 61 6e 65 00  ff 0a 4c 65 76 65 6c 20  |Corvane...Level |",
                              // 13 missing bytes of 3 columns, and the gap after the eighth
                              next + " 31 00 00" + std::string(13 * 3 + 1, ' ') + "  |1..|",
                              "19 bytes read"}));
}

// The executable's name as the system lists it.
std::string ListedName(const std::string& name) {
    return fs::path(TargetChildPath()).extension() == ".exe" ? name + ".exe" : name;
}

// `processes` finds the target with its bitness and readability; every
// command's first line names the process and its bitness; process ids are
// taken in decimal and in 0x hexadecimal.
TEST(Probe, ProcessesAndEveryCommandNameTheTargetAndItsBitness) {
    TargetChild child;
    ASSERT_TRUE(StartTargetChild({"rw*1"}, child)) << child.error;
    const std::uint32_t pid = child.process.Pid();
    const std::string bits = std::to_string(8 * sizeof(void*)) + "-bit";  // target_child is built as the probe is
    const std::string name = ListedName("target_child");

    const ProbeResult listed = RunProbe({"processes", "TARGET_CH"});
    EXPECT_EQ(listed.exitCode, 0) << listed.Text();
    EXPECT_EQ(listed.lines.at(0), "pid        bits    name                     readable");
    char expected[128];
    std::snprintf(expected, sizeof expected, "%-10u %-7s %-24s yes", static_cast<unsigned>(pid), bits.c_str(),
                  name.c_str());
    EXPECT_EQ(listed.Line(std::to_string(pid) + " "), expected) << listed.Text();
    for (const std::string& line : listed.lines) {
        EXPECT_TRUE(Has(line, "target_child") || line == listed.lines.front() || line == listed.lines.back()) << line;
    }
    const ProbeResult none = RunProbe({"processes", "no-process-has-this-name"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.lines.back(), "0 processes");

    ScriptFile script("function get_presence() return {} end\n");
    const std::string line = "process " + std::to_string(pid) + " " + name + ", " + bits;
    const std::vector<std::vector<std::string>> commands = {
        {"modules", Hex(pid)},
        {"read", std::to_string(pid), Hex(child.blocks.at(0).address), "4"},
        {"find", "0X" + Hex(pid).substr(2), "00000000", "--data"},
        {"run", std::to_string(pid), script.Path()},
    };
    for (const std::vector<std::string>& command : commands) {
        SCOPED_TRACE(command.front());
        const ProbeResult result = RunProbe(command);
        EXPECT_EQ(result.exitCode, 0) << result.Text();
        ASSERT_FALSE(result.lines.empty());
        EXPECT_TRUE(StartsWith(result.lines.front(), line)) << result.lines.front();
    }
}

TEST(Probe, ExitCodesAndUsage) {
    TargetChild child;
    ASSERT_TRUE(StartTargetChild({"rw*1", "none*1"}, child)) << child.error;
    const std::string pid = std::to_string(child.process.Pid());
    const std::string readable = Hex(child.blocks.at(0).address);
    const std::string unreadable = Hex(child.blocks.at(1).address);
    ScriptFile script("function get_presence() return {} end\n");
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
    };
    const Case cases[] = {
        {{"--help"}, 0},
        {{"run", pid, script.Path()}, 0},
        {{"read", pid, readable, "16"}, 0},
        {{"read", pid, "0X" + readable.substr(2), "0x10"}, 0},
        {{"modules", pid}, 0},
        // Nothing found, nothing read, no script.
        {{"read", pid, unreadable, "4"}, 1},
        {{"read", pid, readable, std::to_string(2 * child.pageSize)}, 1},  // leaves the region
        {{"run", pid, std::string(script.Path()) + ".missing"}, 1},
        // Bad arguments.
        {{}, 2},
        {{"probe"}, 2},
        {{"run", pid}, 2},
        {{"run", "twelve", script.Path()}, 2},
        {{"run", "0", script.Path()}, 2},
        {{"run", pid, script.Path(), "--every", "0"}, 2},
        {{"run", pid, script.Path(), "--count", "0"}, 2},
        {{"run", pid, script.Path(), "--every"}, 2},
        {{"run", pid, script.Path(), "--verbose"}, 2},
        {{"find", pid, "488b0"}, 2},  // odd length: Find would return nil
        {{"find", pid, "4889", "--start", "-1"}, 2},
        {{"find", pid, "4889", "--start", "0x2000", "--end", "0x1fff"}, 2},  // an empty range is no usage error
        {{"find", pid, "4889", "--start", "0x2000", "--end", "0x2000"}, 1},
        {{"read", pid, "0x", "4"}, 2},
        {{"read", pid, readable, "4", "5"}, 2},
        {{"read", pid, readable, "0x4000001"}, 2},  // beyond what a dump holds
        {{"modules"}, 2},
        // No such process.
        {{"modules", "4294967295"}, 3},
        {{"run", "4294967295", script.Path()}, 3},
    };
    for (const Case& c : cases) {
        std::string command;
        for (const std::string& argument : c.arguments) command += " " + argument;
        EXPECT_EQ(RunProbe(c.arguments).exitCode, c.exitCode) << command;
    }
}

// counter_child: its counter's address and value, as it reports them.
class CounterChild {
public:
    bool Start() {
        std::string line;
        return process_.Start(ProgramBesideThisOne("counter_child"), {}) && ReadCounter() &&
               process_.ReadLine(line, kProbeWaitMs) && line == "ready";
    }
    bool Step() { return process_.WriteLine("step") && ReadCounter(); }
    // Adds 1 without printing the new value: no copy of it is left behind.
    bool Add() {
        std::string line;
        ++value;
        return process_.WriteLine("add") && process_.ReadLine(line, kProbeWaitMs) && line == "added";
    }
    std::string Pid() const { return std::to_string(process_.Pid()); }
    std::uint64_t address = 0;
    unsigned value = 0;

private:
    bool ReadCounter() {
        std::string line;
        unsigned long long at = 0;
        return process_.ReadLine(line, kProbeWaitMs) && std::sscanf(line.c_str(), "counter %llx %u", &at, &value) == 2 &&
               (address = at) != 0;
    }
    ChildProcess process_;
};

// A file name of the test's own in the temporary directory.
std::string TemporaryPath(const std::string& stem) {
    return (fs::temp_directory_path() / (stem + "-" + std::to_string(std::random_device{}()))).string();
}

// The number at the start of the line that starts with a digit and names
// matches: "3 matches in ...", "1 match left".
long MatchCountOf(const ProbeResult& result) {
    for (const std::string& line : result.lines) {
        if (!line.empty() && line[0] >= '0' && line[0] <= '9' && Has(line, " match")) return std::stol(line);
    }
    return -1;
}

TEST(Probe, ScanThenRescanNarrowACountingVariableToItsAddress) {
    CounterChild counter;
    ASSERT_TRUE(counter.Start());
    const std::string file = TemporaryPath("scan");
    const ProbeResult scan = RunProbe({"scan", counter.Pid(), "u32", std::to_string(counter.value), "--save", file});
    ASSERT_EQ(scan.exitCode, 0) << scan.Text();
    ASSERT_GE(MatchCountOf(scan), 1) << scan.Text();
    const std::string targetLine = "process " + counter.Pid() + " " + ListedName("counter_child") + ", ";
    EXPECT_TRUE(StartsWith(scan.lines.front(), targetLine)) << scan.Text();

    // As an author narrows it: the new number after each step, or a change.
    // The last step leaves no copy of the number where printing it would.
    const char* const criteria[] = {"value", "unchanged", "increased", "value", "changed", "value"};
    ProbeResult rescan;
    for (std::size_t i = 0; i < std::size(criteria); ++i) {
        const std::string criterion = criteria[i];
        if (criterion != "unchanged") {
            ASSERT_TRUE(i + 1 == std::size(criteria) ? counter.Add() : counter.Step());
        }
        rescan = RunProbe({"rescan", file, criterion == "value" ? std::to_string(counter.value) : criterion});
        ASSERT_EQ(rescan.exitCode, 0) << criterion << "\n" << rescan.Text();
        EXPECT_TRUE(StartsWith(rescan.lines.front(), targetLine)) << rescan.Text();
    }
    EXPECT_EQ(MatchCountOf(rescan), 1) << rescan.Text();
    const std::string found = rescan.Line("0x");
    const std::string module = fs::path(ProgramBesideThisOne("counter_child")).filename().string();
    EXPECT_TRUE(StartsWith(found, Hex(counter.address) + "  " + module + "+0x")) << rescan.Text();
    EXPECT_TRUE(Has(found, " " + std::to_string(counter.value) + " (was " + std::to_string(counter.value - 1) + ")"))
        << found;

    // The counter never decreases: nothing is left, and the file says so.
    ASSERT_TRUE(counter.Step());
    const ProbeResult none = RunProbe({"rescan", file, "decreased"});
    EXPECT_EQ(none.exitCode, 1) << none.Text();
    EXPECT_EQ(MatchCountOf(none), 0) << none.Text();
    EXPECT_EQ(MatchCountOf(RunProbe({"rescan", file, "unchanged"})), 0);
    fs::remove(file);
}

// Text is found where it lies across the border of two chunks of a scan, and
// only there; UTF-16 only at even addresses.
TEST(Probe, ScanFindsTextAcrossTheChunksItReads) {
    const std::size_t border = kValueScanChunk;
    TargetChild child;
    // "Qz7~" in UTF-8 and in UTF-16, each across a chunk border, and the UTF-16
    // bytes again at an odd address.
    ASSERT_TRUE(StartTargetChild({"rw*" + std::to_string(2 * border / 4096 + 1) + ",@" + std::to_string(border - 2) + "=517a377e,@" + std::to_string(2 * border - 4) +
                                  "=51007a0037007e00,@4097=51007a0037007e00"},
                                 child))
        << child.error;
    const std::uint64_t block = child.blocks.at(0).address;
    const std::string pid = std::to_string(child.process.Pid());
    const ProbeResult utf8 = RunProbe({"scan", pid, "utf8", "Qz7~"});
    EXPECT_EQ(MatchCountOf(utf8), 1) << utf8.Text();
    EXPECT_TRUE(StartsWith(utf8.Line("0x"), Hex(block + border - 2) + "  \"Qz7~\"")) << utf8.Text();
    const ProbeResult utf16 = RunProbe({"scan", pid, "utf16", "Qz7~"});
    EXPECT_EQ(MatchCountOf(utf16), 1) << utf16.Text();
    EXPECT_TRUE(StartsWith(utf16.Line("0x"), Hex(block + 2 * border - 4) + "  \"Qz7~\"")) << utf16.Text();
}

TEST(Probe, ScanAndRescanRefuseWhatTheyCannotUse) {
    CounterChild counter;
    ASSERT_TRUE(counter.Start());
    const std::string notCandidates = TemporaryPath("not-candidates");
    { std::ofstream(notCandidates) << "pid 1\n"; }
    const std::string text = TemporaryPath("text-candidates");
    ASSERT_EQ(RunProbe({"scan", counter.Pid(), "utf8", "no such text in it, surely", "--save", text}).exitCode, 1);
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
    } cases[] = {
        {{"scan", counter.Pid(), "int", "1"}, 2},
        {{"scan", counter.Pid(), "u8", "256"}, 2},
        {{"scan", counter.Pid(), "u32"}, 2},
        {{"scan", counter.Pid(), "u32", "1", "--save"}, 2},
        {{"scan", "4294967295", "u32", "1"}, 3},
        {{"rescan", notCandidates, "changed"}, 1},
        {{"rescan", notCandidates + ".missing", "changed"}, 1},
        {{"rescan", text, "increased"}, 2},  // text does not increase
        {{"rescan", text, "changed"}, 1},    // nothing was kept
        {{"rescan", text}, 2},
    };
    for (const auto& c : cases) {
        std::string command;
        for (const std::string& argument : c.arguments) command += " " + argument;
        EXPECT_EQ(RunProbe(c.arguments).exitCode, c.exitCode) << command;
    }
    fs::remove(notCandidates);
    fs::remove(text);
}

#if !defined(_WIN32)
// What an author does with sig's output: checks each pattern with find, and
// pastes each snippet, and the module+offset form, into a script.
TEST(Probe, SigProposesUniquePatternsWhoseSnippetsYieldTheAddress) {
    CounterChild counter;
    ASSERT_TRUE(counter.Start());
    const ProbeResult sig = RunProbe({"sig", counter.Pid(), Hex(counter.address), "--json"});
    ASSERT_EQ(sig.exitCode, 0) << sig.Text();
    rapidjson::Document report;
    ASSERT_FALSE(report.Parse(sig.Text().c_str()).HasParseError()) << sig.Text();
    EXPECT_STREQ(report["bitness"].GetString(), "x64");
    EXPECT_EQ(std::to_string(report["pid"].GetUint()), counter.Pid());
    EXPECT_STREQ(report["name"].GetString(), "counter_child");
    EXPECT_TRUE(StartsWith(report["module"].GetString(), "counter_child+0x")) << sig.Text();
    const auto& instructions = report["instructions"].GetArray();
    // The counter is read, written and passed to printf: each is an instruction.
    ASSERT_GE(instructions.Size(), 3u) << sig.Text();
    std::string script = "local found = {}\n";
    for (const auto& instruction : instructions) {
        ASSERT_TRUE(instruction["unique"].GetBool()) << sig.Text();
        const std::string pattern = instruction["pattern"].GetString();
        EXPECT_NE(pattern.find(".."), std::string::npos) << "the displacement is a wildcard: " << pattern;
        const ProbeResult find = RunProbe({"find", counter.Pid(), pattern, "--all"});
        EXPECT_EQ(find.Line("1 match"), "1 match: the pattern is unique") << find.Text();
        EXPECT_TRUE(StartsWith(find.Line("0x"), instruction["address"].GetString())) << find.Text();
        script += std::string("do\n") + instruction["snippet"].GetString() + "found[#found + 1] = address\nend\n";
    }
    script += std::string("do\n") + report["fallback"].GetString() + "found[#found + 1] = address\nend\n";
    script += "for _, address in ipairs(found) do print(string.format('address 0x%x', address)) end\n"
              "function get_presence() return {} end\n";
    ScriptFile file(script);
    const ProbeResult run = RunProbe({"run", counter.Pid(), file.Path()});
    ASSERT_EQ(run.exitCode, 0) << script << run.Text();
    const std::vector<std::string> addresses = run.LinesStartingWith("address ");
    EXPECT_EQ(addresses, std::vector<std::string>(instructions.Size() + 1, "address " + Hex(counter.address)))
        << script << run.Text();

    // An address no code refers to: nothing to propose, and no module form
    // for an address outside every module.
    const ProbeResult none = RunProbe({"sig", counter.Pid(), "0x10"});
    EXPECT_EQ(none.exitCode, 1) << none.Text();
    EXPECT_TRUE(StartsWith(none.lines.front(), "process " + counter.Pid() + " counter_child, 64-bit")) << none.Text();
    EXPECT_EQ(none.Line("0 instructions"), "0 instructions") << none.Text();
    EXPECT_TRUE(Has(none.Text(), "no module holds 0x10")) << none.Text();
    EXPECT_EQ(RunProbe({"sig", counter.Pid(), "counter"}).exitCode, 2);
}
#endif

}  // namespace
