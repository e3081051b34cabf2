// The addon's launch operations on Windows (under Wine): the kill-on-close
// job, the suspended start into the job, the bitness rule, the command line,
// the script test, every failure path that can be produced for real, and the
// delay-load hook. The real companion, from the companion directory that this
// build assembles, is started for the demo game and publishes to the
// reference service. A small stand-in program takes the companion's place
// where only it can tell what was done: it records its command line, its
// working directory and whether it ran its first instruction inside the job,
// in a temporary companion directory that a test may strip of files.

#include <windows.h>

#include <delayimp.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "launch.h"
#include "launch_win.h"
#include "process_image_win.h"
#include "support/service_log.h"
#include "support/application_id_cases.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

const bool kBuiltFor64Bit = sizeof(void*) == 8;
const char* const kOwnBuild = kBuiltFor64Bit ? "x64" : "x86";

HANDLE handleOf(ChildJob job) {
    return reinterpret_cast<HANDLE>(job.handle);
}

template <typename Condition>
bool eventually(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// What the stand-in wrote about its start.
struct StartRecord {
    std::wstring commandLine;
    std::wstring workingDirectory;
    bool inJobFromTheStart = false;
};

// The running processes whose image lies in `directory`, by pid.
std::vector<DWORD> processesRunningFrom(const fs::path& directory) {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    std::wstring prefix = directory.wstring() + L"\\";
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (process == nullptr) continue;
        std::wstring image = imageOf(process);
        DWORD exitCode = 0;
        if (image.size() >= prefix.size() && samePath(image.substr(0, prefix.size()), prefix) &&
            GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE) {
            found.push_back(entry.th32ProcessID);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

bool noneRunningFrom(const fs::path& directory) {
    return eventually([&] { return processesRunningFrom(directory).empty(); });
}

// The stand-in as both builds in a module directory in the temporary folder,
// named with a space and characters outside ASCII (one of them outside the
// BMP), whose companion directory has an empty scripts directory. Every test
// gets its own job, closed at the end so that nothing it started survives it.
class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        moduleDir_ = fs::path(temp) / (L"corvane launch J\u00fcrgen \U0001F600 " +
                                       std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++serial));
        companionDir_ = moduleDir_ / L"8a57342e5e";
        std::error_code ignored;
        fs::remove_all(moduleDir_, ignored);
        fs::create_directories(companionDir_ / L"scripts");
        fs::path standIn = fs::path(wideFromUtf8(moduleDirectory())) / L"launch_test_companion.exe";
        ASSERT_TRUE(fs::exists(standIn)) << "the stand-in companion is built beside this test";
        for (const wchar_t* build : {L"CorvaneTallowin_x64.exe", L"CorvaneTallowin_x86.exe"}) {
            fs::copy_file(standIn, companionDir_ / build);
        }
        job_ = createChildJob();
        ASSERT_TRUE(job_);
    }

    void TearDown() override {
        if (job_) CloseHandle(handleOf(job_));
        // Should a companion have escaped the job, end it here rather than
        // leave it running past the test.
        if (!noneRunningFrom(companionDir_)) {
            ADD_FAILURE() << "a companion outlived its job";
            for (DWORD pid : processesRunningFrom(companionDir_)) {
                HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
                if (process == nullptr) continue;
                TerminateProcess(process, 1);
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
        }
        std::error_code ignored;
        fs::remove_all(moduleDir_, ignored);
    }

    std::string moduleDirUtf8() const { return utf8FromWide(moduleDir_.wstring()); }

    std::optional<std::uint32_t> launch(std::uint32_t gamePid, const std::string& appId) {
        return launchCompanion(job_, moduleDirUtf8(), gamePid, appId);
    }

    std::optional<StartRecord> waitForStart(std::uint32_t companionPid) {
        fs::path file = companionDir_ / (L"started-" + std::to_wstring(companionPid) + L".txt");
        if (!eventually([&] { return fs::exists(file); })) return std::nullopt;
        std::ifstream in(file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        std::size_t first = text.find(L'\n'), second = text.find(L'\n', first + 1);
        return StartRecord{text.substr(0, first), text.substr(first + 1, second - first - 1),
                           text.substr(second + 1) == L"1"};
    }

    bool anyStarted() const {
        for (const auto& entry : fs::directory_iterator(companionDir_)) {
            if (entry.path().filename().wstring().rfind(L"started-", 0) == 0) return true;
        }
        return false;
    }

    fs::path moduleDir_;
    fs::path companionDir_;
    ChildJob job_;
};

TEST_F(LaunchTest, StartsTheMatchingBuildInsideTheJobWithItsCommandLine) {
    struct Case {
        std::uint32_t gamePid;
        const char* build;
    };
    // This test program is a real process of its own bitness; process 0 cannot
    // be opened, which means the x86 build.
    for (Case c : {Case{GetCurrentProcessId(), kOwnBuild}, Case{0, "x86"}}) {
        SCOPED_TRACE(c.gamePid);
        std::optional<std::uint32_t> pid = launch(c.gamePid, "123456");
        ASSERT_TRUE(pid);
        std::optional<StartRecord> record = waitForStart(*pid);
        ASSERT_TRUE(record);
        std::wstring executable = (companionDir_ / (L"CorvaneTallowin_" + wideFromUtf8(c.build) + L".exe")).wstring();
        EXPECT_EQ(record->commandLine, L"\"" + executable + L"\" " + std::to_wstring(c.gamePid) + L" 123456");
        EXPECT_EQ(record->workingDirectory, companionDir_.wstring());
        EXPECT_TRUE(record->inJobFromTheStart);

        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, *pid);
        ASSERT_NE(process, nullptr);
        BOOL inJob = FALSE;
        EXPECT_TRUE(IsProcessInJob(process, handleOf(job_), &inJob)) << GetLastError();
        EXPECT_TRUE(inJob);
        CloseHandle(process);
    }
    EXPECT_EQ(processesRunningFrom(companionDir_).size(), 2u);
}

TEST_F(LaunchTest, FailuresStartNothingAndLeaveNothingBehind) {
    EXPECT_FALSE(launchCompanion(ChildJob{}, moduleDirUtf8(), GetCurrentProcessId(), "123456"));
    EXPECT_FALSE(launch(GetCurrentProcessId(), std::string("123456\0x", 8)));
    for (const char* outside : {"..\\123456", "../123456", "Z:\\123456", ".."}) {
        EXPECT_FALSE(launch(GetCurrentProcessId(), outside)) << outside;
    }

    // A handle the system refuses as a job: the suspended companion must be
    // terminated, not left behind.
    HANDLE notAJob = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(launchCompanion(ChildJob{reinterpret_cast<std::uintptr_t>(notAJob)}, moduleDirUtf8(),
                                 GetCurrentProcessId(), "123456"));
    CloseHandle(notAJob);
    EXPECT_TRUE(noneRunningFrom(companionDir_));
    EXPECT_FALSE(anyStarted());

    // No companion executable.
    fs::remove(companionDir_ / L"CorvaneTallowin_x64.exe");
    fs::remove(companionDir_ / L"CorvaneTallowin_x86.exe");
    EXPECT_FALSE(launch(GetCurrentProcessId(), "123456"));
}

TEST_F(LaunchTest, ScriptExistsForPresentScriptsOnly) {
    auto create = [&](const std::wstring& name) { std::ofstream(companionDir_ / L"scripts" / name).put('\n'); };
    create(L"123456.lua");
    create(L"J\u00fcrgen\U0001F600.lua");
    create(L"cut");
    fs::create_directory(companionDir_ / L"scripts" / L"folder.lua");

    struct Case {
        std::string appId;
        bool exists;
    };
    const Case cases[] = {
        {"123456", true},
        {"999", false},
        {"", false},  // names ".lua", absent so far
        {"folder", true},
        {"J\xC3\xBCrgen\xF0\x9F\x98\x80", true},
        {std::string("cut\0x", 5), false},  // must not test "scripts\cut"
        // Ids that would name a file outside the scripts directory (here the
        // present script by a detour) are refused.
        {"..\\scripts\\123456", false},
        {"../scripts/123456", false},
        {".\\123456", false},
        {"Z:123456", false},
        {"..", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.appId);
        EXPECT_EQ(scriptExists(moduleDirUtf8(), c.appId), c.exists);
    }
    create(L".lua");
    EXPECT_TRUE(scriptExists(moduleDirUtf8(), ""));
}

// Every id that the application-id rule refuses names no script and starts
// nothing; every id it accepts finds the script of its name (ids too long for
// a path of MAX_PATH in this folder aside).
TEST_F(LaunchTest, TheApplicationIdRuleDecidesWhichIdsNameAScript) {
    for (const ApplicationIdCase& c : ApplicationIdCases()) {
        if (c.id.size() > 100) continue;
        SCOPED_TRACE(::testing::PrintToString(c.id) + ": " + c.why);
        if (c.accepted) std::ofstream(companionDir_ / L"scripts" / fs::u8path(c.id + ".lua")).put('\n');
        EXPECT_EQ(scriptExists(moduleDirUtf8(), c.id), c.accepted);
        if (!c.accepted) EXPECT_FALSE(launch(GetCurrentProcessId(), c.id));
    }
    EXPECT_FALSE(anyStarted());
}

// The companion directory that this build assembles beside the test
// programs, with the real companion and the demo game's script; the demo game
// running, the reference service listening, and a job of its own.
class RealCompanionTest : public ::testing::Test {
protected:
    void SetUp() override {
        moduleDir_ = fs::path(wideFromUtf8(moduleDirectory())).parent_path() / L"dist";
        companionDir_ = moduleDir_ / L"8a57342e5e";
        ASSERT_TRUE(fs::exists(companionDir_ / L"scripts" / (wideFromUtf8(kDemoApplicationId) + L".lua")))
            << "the build assembles " << companionDir_;
        ASSERT_TRUE(service_.Start({}));
        ASSERT_TRUE(game_.Start(ProgramBesideThisOne("../tools/demo_game/demo_game"),
                                {"--step-ms", "0", "--seconds", "60"}));
        std::string firstState;
        ASSERT_TRUE(game_.ReadLine(firstState));
        job_ = createChildJob();
        ASSERT_TRUE(job_);
    }

    void TearDown() override {
        if (job_) CloseHandle(handleOf(job_));
        game_.Kill();
    }

    bool gameRunning() {
        int exitCode = 0;
        return !game_.Wait(0, exitCode);
    }

    static constexpr const char* kDemoApplicationId = "300000000000000001";
    fs::path moduleDir_;
    fs::path companionDir_;
    ServiceLog service_;
    ChildProcess game_;
    ChildJob job_;
};

TEST_F(RealCompanionTest, RunsInTheJobPublishesAndEndsWhenTheJobsLastHandleCloses) {
    // The game is a real process of this program's bitness.
    const std::wstring build = (companionDir_ / (L"CorvaneTallowin_" + wideFromUtf8(kOwnBuild) + L".exe")).wstring();
    std::vector<HANDLE> companions;
    auto launchInJob = [&]() -> std::uint32_t {
        std::optional<std::uint32_t> pid =
            launchCompanion(job_, utf8FromWide(moduleDir_.wstring()), game_.Pid(), kDemoApplicationId);
        if (!pid) return 0;
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, *pid);
        if (process == nullptr) return 0;
        companions.push_back(process);
        EXPECT_TRUE(samePath(imageOf(process), build)) << imageOf(process);
        BOOL inJob = FALSE;
        EXPECT_TRUE(IsProcessInJob(process, handleOf(job_), &inJob)) << GetLastError();
        EXPECT_TRUE(inJob);
        return *pid;
    };

    // Resumed, it runs: the service hears the game's presence from it, under
    // the returned pid.
    const std::uint32_t first = launchInJob();
    ASSERT_NE(first, 0u);
    const std::string presence = service_.WaitFor([&](const std::string& line) {
        return line.rfind("frame 1 ", 0) == 0 && line.find("\"SET_ACTIVITY\"") != std::string::npos &&
               line.find("\"pid\":" + std::to_string(first) + ",") != std::string::npos;
    });
    ASSERT_NE(presence, "") << "no presence from companion " << first;
    EXPECT_NE(presence.find("\"details\":\"Exploring Harbor\""), std::string::npos) << presence;

    // Nothing prevents a second companion for the same game. The service
    // serves one client at a time, so this one waits for the pipe.
    ASSERT_NE(launchInJob(), 0u);
    for (HANDLE process : companions) EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    CloseHandle(handleOf(job_));
    job_ = ChildJob{};
    for (HANDLE process : companions) {
        EXPECT_EQ(WaitForSingleObject(process, 15000), WAIT_OBJECT_0);
        CloseHandle(process);
    }
    EXPECT_TRUE(gameRunning()) << "the companions ended with the job, not with their game";
}

TEST(LaunchCommandLine, EachArgumentReachesTheProgramWhole) {
    const std::string appIds[] = {
        "123456", "a b", "", "say \"hi\"", "back\\slash\\", "tab\there", "trail\\\\\"q", "J\xC3\xBCrgen\xF0\x9F\x98\x80",
    };
    for (const std::string& appId : appIds) {
        SCOPED_TRACE(appId);
        std::wstring line = commandLineFor({"C:\\Program Files\\app\\CorvaneTallowin_x64.exe", "4242", appId});
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(argv, nullptr);
        ASSERT_EQ(count, 3);
        EXPECT_EQ(std::wstring(argv[0]), L"C:\\Program Files\\app\\CorvaneTallowin_x64.exe");
        EXPECT_EQ(std::wstring(argv[1]), L"4242");
        EXPECT_EQ(utf8FromWide(argv[2]), appId);
        LocalFree(argv);
    }
    EXPECT_EQ(commandLineFor({"C:\\App\\modules\\8a57342e5e\\CorvaneTallowin_x64.exe", "4242", "123456"}),
              L"\"C:\\App\\modules\\8a57342e5e\\CorvaneTallowin_x64.exe\" 4242 123456");
}

TEST(LaunchBitness, OnlyAKnownNative64BitProcessGetsTheX64Build) {
    EXPECT_EQ(isNative64BitProcess(GetCurrentProcessId()), kBuiltFor64Bit);
    // Processes that cannot be opened.
    EXPECT_FALSE(isNative64BitProcess(0));
    EXPECT_FALSE(isNative64BitProcess(0xFFFFFFF0u));
}

TEST(DelayLoadHook, AnswersHostModuleNamesWithTheRunningExecutable) {
    struct Case {
        const char* dll;
        bool isHost;
    };
    const Case cases[] = {{"node.exe", true},     {"NODE.EXE", true},       {"iojs.exe", true},
                          {"electron.exe", true}, {"kernel32.dll", false}, {"node.dll", false}};
    FARPROC executable = reinterpret_cast<FARPROC>(GetModuleHandleW(nullptr));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dll);
        DelayLoadInfo info = {};
        info.cb = sizeof info;
        info.szDll = c.dll;
        EXPECT_EQ(__pfnDliNotifyHook2(dliNotePreLoadLibrary, &info), c.isHost ? executable : nullptr);
        // Any other notification lets the default loading proceed.
        EXPECT_EQ(__pfnDliNotifyHook2(dliNotePreGetProcAddress, &info), nullptr);
    }
}

}  // namespace
