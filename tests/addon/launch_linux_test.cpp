// The addon's Linux launch code as a host other than Node sees it: the
// application-id rule before a script is looked for or a companion started; a
// descriptor the host opened without close-on-exec after its start (Node
// marks those it inherits, so only native code leaves one) must not reach the
// companion, on a kernel with close_range and on older ones without it, where
// a seccomp filter makes the calls fail as a missing call does. Each case runs
// in a forked host of its own, since a filter stays for the life of a process.

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "launch.h"
#include "support/application_id_cases.h"

namespace {

// Every call is allowed but the denied ones, which fail with ENOSYS; a
// program of another architecture is stopped, as the numbers would mean
// other calls there.
bool DenySyscalls(const std::vector<long>& denied) {
    std::vector<sock_filter> filter = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    for (long number : denied) {
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(number), 0, 1));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog program = {static_cast<unsigned short>(filter.size()), filter.data()};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

enum HostResult { kNothingLeaked = 0, kLeaked = 1, kSetUpFailed = 2, kNotStarted = 3 };

// In a forked host: leaves descriptor 9 inheritable, denies the calls,
// starts a companion (sleep, which changes nothing) and looks at its
// descriptors. The start returns once the program runs, so the descriptors
// marked close-on-exec are gone by then.
[[noreturn]] void RunHost(const std::vector<long>& denied) {
    constexpr int kLeakedDescriptor = 9;
    int opened = open("/dev/null", O_RDONLY);
    if (opened < 0 || dup2(opened, kLeakedDescriptor) != kLeakedDescriptor || !DenySyscalls(denied)) {
        _exit(kSetUpFailed);
    }
    corvane::ChildJob job = corvane::createChildJob();
    std::optional<std::uint32_t> companion = corvane::startInJob(job, {"/bin/sleep", "60"}, "/");
    if (!companion) _exit(kNotStarted);
    std::string leaked = "/proc/" + std::to_string(*companion) + "/fd/" + std::to_string(kLeakedDescriptor);
    HostResult result = access(leaked.c_str(), F_OK) == 0 ? kLeaked : kNothingLeaked;
    kill(static_cast<pid_t>(*companion), SIGKILL);
    _exit(result);
}

TEST(LaunchLinux, NoInheritableHostDescriptorReachesTheCompanionWithOrWithoutCloseRange) {
    struct Case {
        const char* what;
        std::vector<long> denied;
    };
    const Case cases[] = {
        {"close_range marks them all", {}},
        {"without close_range, /proc/self/fd lists them", {SYS_close_range}},
        {"without /proc listings either, up to the limit on open files", {SYS_close_range, SYS_getdents64}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pid_t host = fork();
        ASSERT_GE(host, 0);
        if (host == 0) RunHost(c.denied);
        int status = 0;
        ASSERT_EQ(waitpid(host, &status, 0), host);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), kNothingLeaked);
    }
}

// The child changes into the working directory before it runs the program,
// so a relative program path (a module loaded by a relative path gives one)
// must be made absolute first; a relative working directory is taken from
// the host's.
TEST(LaunchLinux, ARelativeProgramPathStillStartsTheProgram) {
    char buffer[4096];
    ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
    const std::string before = buffer;
    ASSERT_EQ(chdir("/usr"), 0);
    std::optional<std::uint32_t> companion =
        corvane::startInJob(corvane::createChildJob(), {"./bin/sleep", "60"}, "lib");
    ASSERT_EQ(chdir(before.c_str()), 0);
    ASSERT_TRUE(companion);
    char link[4096] = {};
    std::string proc = "/proc/" + std::to_string(*companion);
    ASSERT_GT(readlink((proc + "/cwd").c_str(), link, sizeof link - 1), 0);
    EXPECT_STREQ(link, "/usr/lib");
    kill(static_cast<pid_t>(*companion), SIGKILL);
}

// Every id that the rule refuses gives false and starts nothing, although
// its script (or the file that its detour names) is there; every id that it
// accepts finds its script and starts the companion (here /bin/true).
TEST(LaunchLinux, TheApplicationIdRuleDecidesWhichIdsNameAScript) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/corvane-launch-ids-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string moduleDir = pattern;
    const std::string companionDir = moduleDir + "/8a57342e5e";
    fs::create_directories(companionDir + "/scripts");
    fs::create_symlink("/bin/true", companionDir + "/CorvaneTallowin_x64");
    const corvane::ChildJob job = corvane::createChildJob();
    for (const ApplicationIdCase& c : ApplicationIdCases()) {
        SCOPED_TRACE(::testing::PrintToString(c.id) + ": " + c.why);
        std::ofstream(companionDir + "/scripts/" + c.id + ".lua") << "function get_presence() return {} end\n";
        EXPECT_EQ(corvane::scriptExists(moduleDir, c.id), c.accepted);
        EXPECT_EQ(corvane::launchCompanion(job, moduleDir, 1, c.id).has_value(), c.accepted);
    }
    fs::remove_all(moduleDir);
}

}  // namespace
