// The probe against a real Windows process of the other bitness (the
// command interpreter of the other half of the system folders): its
// bitness is listed, and `run` refuses it, naming the companion the
// launcher would start, so that no script runs under an Architecture its
// companion would not report.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "probe_runner.h"
#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
using namespace probe_runner;

TEST(ProbeBitness, RunRefusesATargetOfTheOtherBitness) {
    const bool probeIs64Bit = sizeof(void*) == 8;
    // From a 32-bit process, system32 is redirected; sysnative is the real one.
    const std::string program = probeIs64Bit ? "C:\\windows\\syswow64\\cmd.exe" : "C:\\windows\\sysnative\\cmd.exe";
    if (!fs::exists(program)) GTEST_SKIP() << "no " << program << " on this system";
    ChildProcess other;
    ASSERT_TRUE(other.Start(program, {}));  // it reads commands until its input closes
    const std::string pid = std::to_string(other.Pid());
    const char* bits = probeIs64Bit ? "32-bit" : "64-bit";
    const char* companion = probeIs64Bit ? "x86" : "x64";

    const ProbeResult listed = RunProbe({"processes", "cmd.exe"});
    EXPECT_TRUE(StartsWith(listed.Line(pid + " "), pid + std::string(10 - pid.size() + 1, ' ') + bits)) << listed.Text();

    ScriptFile script("function get_presence() return { state = Architecture } end\n");
    const ProbeResult run = RunProbe({"run", pid, script.Path()});
    EXPECT_EQ(run.exitCode, 4) << run.Text();
    ASSERT_EQ(run.lines.size(), 1u) << run.Text();  // no load, no poll
    EXPECT_EQ(run.lines[0], "process " + pid + " cmd.exe, " + bits + "; the launcher starts the " + companion +
                                " companion for it; scripts here see Architecture \"" + (probeIs64Bit ? "x64" : "x86") +
                                "\"");
    other.CloseInput();
}

}  // namespace
