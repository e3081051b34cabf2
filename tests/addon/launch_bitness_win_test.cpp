// The launcher's bitness choice end to end, from the 32-bit build (the
// addon's own bitness on Windows): a companion directory holds both real
// companions, this build's CorvaneTallowin_x86.exe and the x64 build's
// CorvaneTallowin_x64.exe; a 32-bit and a 64-bit target_child each get the
// companion of their bitness, which reads its own game (a scan, the modules
// of the executable and of a DLL, Architecture) and publishes what it read
// to the reference service.

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "launch.h"
#include "launch_win.h"
#include "process_image_win.h"
#include "support/child_process.h"
#include "support/service_log.h"
#include "support/target_child_client.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

const char* const kApplicationId = "300000000000000005";
// Bytes that occur nowhere in a target but where the test places them.
const char* const kMarker = "C0DEC0FFEE5EED0BB0B1E5CAFE0FF1CE";
constexpr unsigned kMarkerOffset = 64;

// What the companion publishes: its Architecture as the state and, as the
// details, the executable's and ntdll's base and size and where the marker
// was found, in hex, one blank apart (0 for what it could not find).
std::string ReportingScript(const std::string& executableName) {
    return "local MARKER = \"" + std::string(kMarker) + "\"\n" +
           "function get_presence()\n"
           "  local exeBase, exeSize = GetModuleInfo(\"" + executableName + "\")\n"
           "  local dllBase, dllSize = GetModuleInfo(\"ntdll.dll\")\n"
           "  local marker = Find(MARKER, 0, -1, 0)\n"
           "  return { state = Architecture, details = string.format(\"%x %x %x %x %x\",\n"
           "    exeBase or 0, exeSize or 0, dllBase or 0, dllSize or 0, marker or 0) }\n"
           "end\n";
}

// The JSON text member `name` of `line`, as far as the next quote.
std::string TextMember(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const std::size_t start = line.find(key);
    if (start == std::string::npos) return "";
    const std::size_t from = start + key.size();
    return line.substr(from, line.find('"', from) - from);
}

struct ReadFacts {
    unsigned long long exeBase = 0, exeSize = 0, dllBase = 0, dllSize = 0, marker = 0;
};

std::optional<ReadFacts> ParseFacts(const std::string& details) {
    ReadFacts facts;
    if (std::sscanf(details.c_str(), "%llx %llx %llx %llx %llx", &facts.exeBase, &facts.exeSize, &facts.dllBase,
                    &facts.dllSize, &facts.marker) != 5) {
        return std::nullopt;
    }
    return facts;
}

bool Within(unsigned long long address, unsigned long long base, unsigned long long size) {
    return address >= base && address - base < size;
}

class LaunchByBitness : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path ownBuild = fs::path(wideFromUtf8(moduleDirectory())).parent_path();
        x64Build_ = fs::path(X64_BUILD_DIR);
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        moduleDir_ = fs::path(temp) / (L"corvane bitness " + std::to_wstring(GetTickCount64()));
        companionDir_ = moduleDir_ / L"8a57342e5e";
        fs::create_directories(companionDir_ / L"scripts");
        const fs::path x86Companion = ownBuild / L"dist" / L"8a57342e5e" / L"CorvaneTallowin_x86.exe";
        const fs::path x64Companion = x64Build_ / L"dist" / L"8a57342e5e" / L"CorvaneTallowin_x64.exe";
        for (const fs::path& companion : {x86Companion, x64Companion}) {
            ASSERT_TRUE(fs::exists(companion)) << companion << " is not built: build both Windows presets";
            fs::copy_file(companion, companionDir_ / companion.filename());
        }
        job_ = createChildJob();
        ASSERT_TRUE(job_);
    }

    void TearDown() override {
        if (job_) CloseHandle(reinterpret_cast<HANDLE>(job_.handle));
        std::error_code ignored;
        fs::remove_all(moduleDir_, ignored);
    }

    fs::path x64Build_;
    fs::path moduleDir_;
    fs::path companionDir_;
    ChildJob job_;
};

TEST_F(LaunchByBitness, EachGameGetsTheCompanionOfItsBitnessWhichReadsItAndPublishes) {
    struct Case {
        const char* architecture;
        std::string targetChild;
    };
    const Case cases[] = {
        {"x86", TargetChildPath()},
        {"x64", (x64Build_ / "tests" / "target_child.exe").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.architecture);
        TargetChild game;
        ASSERT_TRUE(StartTargetChild(c.targetChild, {"rw*1,@" + std::to_string(kMarkerOffset) + "=" + kMarker}, game))
            << game.error;
        std::ofstream(companionDir_ / L"scripts" / (std::string(kApplicationId) + ".lua"))
            << ReportingScript(game.executable.name);
        ServiceLog service;
        ASSERT_TRUE(service.Start({}));

        EXPECT_EQ(isNative64BitProcess(game.process.Pid()), std::string(c.architecture) == "x64");
        std::optional<std::uint32_t> companionPid =
            launchCompanion(job_, utf8FromWide(moduleDir_.wstring()), game.process.Pid(), kApplicationId);
        ASSERT_TRUE(companionPid);
        HANDLE companion = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *companionPid);
        ASSERT_NE(companion, nullptr);
        const std::wstring expected =
            (companionDir_ / (L"CorvaneTallowin_" + wideFromUtf8(c.architecture) + L".exe")).wstring();
        EXPECT_TRUE(samePath(imageOf(companion), expected)) << utf8FromWide(imageOf(companion));

        const std::string presence = service.WaitFor([&](const std::string& line) {
            return line.rfind("frame 1 ", 0) == 0 && line.find("\"SET_ACTIVITY\"") != std::string::npos &&
                   line.find("\"pid\":" + std::to_string(*companionPid) + ",") != std::string::npos;
        });
        ASSERT_NE(presence, "") << "no presence from the " << c.architecture << " companion";
        EXPECT_EQ(TextMember(presence, "state"), c.architecture) << presence;
        std::optional<ReadFacts> facts = ParseFacts(TextMember(presence, "details"));
        ASSERT_TRUE(facts) << presence;
        EXPECT_EQ(facts->exeBase, game.executable.base) << presence;
        EXPECT_TRUE(Within(game.executable.inside, facts->exeBase, facts->exeSize)) << presence;
        EXPECT_EQ(facts->dllBase, game.library.base) << presence;
        EXPECT_TRUE(Within(game.library.inside, facts->dllBase, facts->dllSize)) << presence;
        EXPECT_EQ(facts->marker, game.blocks.at(0).address + kMarkerOffset) << presence;

        // The companion ends with its game.
        game.process.CloseInput();
        EXPECT_EQ(WaitForSingleObject(companion, 15000), WAIT_OBJECT_0);
        CloseHandle(companion);
    }
}

}  // namespace
