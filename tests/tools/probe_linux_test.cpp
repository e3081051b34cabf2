// The probe on what only Linux has: paths of any bytes on the command line,
// and processes it may not read, with real processes of other users and a
// real set-group-id program: the cause, the remedy, and that the remedies
// it names work. Those need root, to run the processes as another user
// (setpriv) and to give a copy of target_child the set-group-id bit, and
// are skipped otherwise.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <filesystem>
#include <string>
#include <vector>

#include "probe_runner.h"
#include "support/child_process.h"
#include "support/script_test_support.h"
#include "support/target_child_client.h"

namespace {

namespace fs = std::filesystem;
using namespace probe_runner;

constexpr unsigned kNobody = 65534;
const char* const kSetpriv = "/usr/bin/setpriv";

// The arguments of setpriv that run a program as nobody with `gid` as its
// real, effective and saved group.
std::vector<std::string> AsNobody(unsigned gid, const std::vector<std::string>& command) {
    std::vector<std::string> arguments = {"--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(gid),
                                          "--clear-groups"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return arguments;
}

// The probe as nobody with `gid`, its standard error with its output.
ProbeResult ProbeAsNobody(unsigned gid, const std::string& arguments) {
    return RunProgram(kSetpriv, AsNobody(gid, {"/bin/sh", "-c", "exec " + ProbeProgram() + " " + arguments + " 2>&1"}));
}

// --json stays valid UTF-8 for a script path that is not.
TEST(ProbeOnLinux, JsonIsValidUtf8ForAnyBytesInPaths) {
    TargetChild child;
    ASSERT_TRUE(StartTargetChild({}, child)) << child.error;
    const std::string path = "caf\xe9-\xff.lua";
    const ProbeResult result = RunProbe({"run", std::to_string(child.process.Pid()), path, "--json"});
    EXPECT_EQ(result.exitCode, 1);
    ASSERT_EQ(result.lines.size(), 2u) << result.Text();  // the target and the load
    rapidjson::Document report;
    report.Parse<rapidjson::kParseValidateEncodingFlag>(result.lines[1].c_str());
    ASSERT_FALSE(report.HasParseError()) << result.lines[1];
    EXPECT_STREQ(report["script"].GetString(), "caf\xEF\xBF\xBD-\xEF\xBF\xBD.lua");
    EXPECT_EQ(std::string(report["error"].GetString()), "cannot open caf\xEF\xBF\xBD-\xEF\xBF\xBD.lua: No such file or directory");
}

// A Windows program under Wine runs in a Wine loader whose first argument
// Wine sets to the program's Windows path: the listing names the program.
// A copy of sleep named as the loader, started with such an argument,
// stands in for it; while the first argument is not yet a Windows path the
// loader's own name is kept.
TEST(ProbeOnLinux, AWineLoaderIsListedByTheWindowsProgramItRuns) {
    const fs::path directory = fs::temp_directory_path() / ("corvane-probe-wine-" + std::to_string(getpid()));
    fs::create_directories(directory);
    const fs::path loader = directory / "wine64";
    fs::copy_file("/bin/sleep", loader);
    const struct {
        std::string firstArgument;
        std::string listed;
    } cases[] = {
        {"Z:\\games\\Quiet Harbour\\harbour.exe", "harbour.exe"},
        {"C:/windows/system32/HARBOUR2.EXE", "HARBOUR2.EXE"},
        {"harbour3", "wine64"},  // not yet the program's path
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.firstArgument);
        ChildProcess sleeper;
        ASSERT_TRUE(sleeper.Start("/bin/bash", {"-c", "exec -a '" + c.firstArgument + "' " + loader.string() + " 30"}));
        const std::string pid = std::to_string(sleeper.Pid());
        ProbeResult listed;
        for (int attempt = 0; attempt < 100 && listed.Line(pid + " ").empty(); ++attempt) {
            listed = RunProbe({"processes", c.listed});  // until bash has run the loader
        }
        EXPECT_TRUE(StartsWith(listed.Line(pid + " "), pid + std::string(10 - pid.size(), ' ') + " 64-bit  " + c.listed))
            << listed.Text();
        sleeper.Kill();
    }
    fs::remove_all(directory);
}

// A copy of target_child as nobody: until `ready`, then it waits for its input to close.
class ChildAsNobody {
public:
    bool Start(const std::string& program, unsigned gid) {
        std::string line;
        if (!process_.Start(kSetpriv, AsNobody(gid, {program}))) return false;
        while (process_.ReadLine(line, kProbeWaitMs)) {
            if (line == "ready") return true;
        }
        return false;
    }
    std::string Pid() const { return std::to_string(process_.Pid()); }

private:
    ChildProcess process_;
};

class ProbeAccess : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0 || access(kSetpriv, X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
        const group* games = getgrnam("games");
        if (games == nullptr) GTEST_SKIP() << "no group games";
        gamesGid_ = games->gr_gid;
        directory_ = fs::temp_directory_path() / ("corvane-probe-access-" + std::to_string(getpid()));
        fs::create_directories(directory_);
        fs::permissions(directory_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    }
    void TearDown() override {
        std::error_code ignored;
        if (!directory_.empty()) fs::remove_all(directory_, ignored);
    }

    // A copy of target_child owned by nobody and `gid`, with the set-group-id bit or without.
    std::string Copy(const std::string& name, unsigned gid, bool setGroupId) {
        const fs::path copy = directory_ / name;
        fs::copy_file(TargetChildPath(), copy);
        EXPECT_EQ(chown(copy.c_str(), kNobody, gid), 0);
        EXPECT_EQ(chmod(copy.c_str(), setGroupId ? 02755 : 0755), 0);
        return copy.string();
    }

    unsigned gamesGid_ = 0;
    fs::path directory_;
};

TEST_F(ProbeAccess, AnotherUsersProcessIsRefusedWithItsCauseAndRemedy) {
    TargetChild child;  // runs as root
    ASSERT_TRUE(StartTargetChild({}, child)) << child.error;
    const std::string pid = std::to_string(child.process.Pid());

    const ProbeResult listed = ProbeAsNobody(kNobody, "processes target_child");
    EXPECT_EQ(listed.exitCode, 0) << listed.Text();
    const std::string line = listed.Line(pid + " ");
    EXPECT_TRUE(Has(line, "no: it runs as another user (uid 0)")) << listed.Text();
    const ProbeResult opened = ProbeAsNobody(kNobody, "modules " + pid);
    EXPECT_EQ(opened.exitCode, 3);
    EXPECT_EQ(opened.Line("corvane-probe: "),
              "corvane-probe: cannot open process " + pid + " (target_child) for reading: it runs as another user (uid 0)")
        << opened.Text();
    EXPECT_TRUE(StartsWith(opened.Line("remedy: "), "remedy: run the probe as that user")) << opened.Text();
}

// A set-group-id game cannot be read by its own user's probe. Each remedy
// the probe names is tried: a copy without the bit, the game and the probe
// both with the group as their real group, and the probe as root.
TEST_F(ProbeAccess, ASetGroupIdProgramIsRefusedAndTheRemediesWork) {
    ChildAsNobody game;
    ASSERT_TRUE(game.Start(Copy("sgid_game", gamesGid_, true), kNobody));
    const ProbeResult listed = ProbeAsNobody(kNobody, "processes sgid_game");
    const std::string cause = "no: it runs set-group-id as gid " + std::to_string(gamesGid_);
    EXPECT_TRUE(Has(listed.Line(game.Pid() + " "), cause)) << listed.Text();
    EXPECT_TRUE(Has(listed.Text(), "remedy: run a copy of the game without the set-group-id bit")) << listed.Text();
    EXPECT_EQ(ProbeAsNobody(kNobody, "modules " + game.Pid()).exitCode, 3);
    EXPECT_EQ(ProbeAsNobody(gamesGid_, "modules " + game.Pid()).exitCode, 3) << "the group alone is not enough";
    EXPECT_EQ(RunProbe({"modules", game.Pid()}).exitCode, 0) << "root reads it";

    ChildAsNobody withoutTheBit;
    ASSERT_TRUE(withoutTheBit.Start(Copy("plain_game", kNobody, false), kNobody));
    EXPECT_EQ(ProbeAsNobody(kNobody, "modules " + withoutTheBit.Pid()).exitCode, 0);

    ChildAsNobody inItsGroup;
    ASSERT_TRUE(inItsGroup.Start((directory_ / "sgid_game").string(), gamesGid_));
    const ProbeResult sameGroup = ProbeAsNobody(gamesGid_, "modules " + inItsGroup.Pid());
    EXPECT_EQ(sameGroup.exitCode, 0) << sameGroup.Text();
}

}  // namespace
