// The launch protocol as a desktop entry and a default handler, written into
// a private $HOME; the messages on the standard error stream.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "rpc/launch_registration.h"
#include "support/application_id_cases.h"
#include "rpc/presence_client.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool Exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string DesktopEntry(const std::string& id, const std::string& exec) {
    return "[Desktop Entry]\nType=Application\nName=URL:Run game " + id + " protocol\nIcon=" + ExecutablePath() +
           "\nExec=" + exec + "\nNoDisplay=true\nMimeType=x-scheme-handler/corvane-" + id + ";\n";
}

// Each test gets a fresh $HOME; XDG_DATA_HOME and XDG_CONFIG_HOME are unset
// unless a test sets them.
class LaunchRegistration : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvane-registration-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
        savedPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    }
    void TearDown() override {
        setenv("PATH", savedPath.c_str(), 1);
        std::string command = "rm -rf '" + home + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // Runs `registration` and returns what it wrote on the standard error stream.
    template <typename Registration>
    std::string MessagesOf(Registration registration) {
        testing::internal::CaptureStderr();
        registration();
        return testing::internal::GetCapturedStderr();
    }

    std::string Applications() const { return home + "/.local/share/applications"; }
    std::string Mimeapps() const { return home + "/.config/mimeapps.list"; }

    std::string home;
    std::string savedPath;
};

TEST_F(LaunchRegistration, WithoutCommandRegistersTheQuotedExecutableAsDefaultHandler) {
    EXPECT_EQ(MessagesOf([] { RegisterLaunchProtocol("1234", nullptr); }), "");
    EXPECT_EQ(ReadFile(Applications() + "/corvane-1234.desktop"),
              DesktopEntry("1234", "\"" + ExecutablePath() + "\""));
    EXPECT_EQ(ReadFile(Mimeapps()),
              "[Default Applications]\nx-scheme-handler/corvane-1234=corvane-1234.desktop\n");

    // An empty command is the same as none.
    EXPECT_EQ(MessagesOf([] { RegisterLaunchProtocol("77", ""); }), "");
    EXPECT_EQ(ReadFile(Applications() + "/corvane-77.desktop"), DesktopEntry("77", "\"" + ExecutablePath() + "\""));
}

// The client registers only when asked, and asked without a Steam id or with
// an empty one it registers the running executable.
TEST_F(LaunchRegistration, InitialiseWithoutASteamIdRegistersTheExecutable) {
    const std::string entry = Applications() + "/corvane-1234.desktop";
    rpc_initialize("1234", nullptr, 0, nullptr);
    rpc_shutdown();
    EXPECT_FALSE(Exists(entry));
    for (const char* steamId : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(steamId == nullptr ? "no Steam id" : "an empty Steam id");
        std::remove(entry.c_str());
        EXPECT_EQ(MessagesOf([steamId] { rpc_initialize("1234", nullptr, 1, steamId); }), "");
        rpc_shutdown();
        EXPECT_EQ(ReadFile(entry), DesktopEntry("1234", "\"" + ExecutablePath() + "\""));
    }
}

TEST_F(LaunchRegistration, FollowsTheXdgBaseDirectories) {
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    EXPECT_EQ(MessagesOf([] { RegisterLaunchProtocol("1234", "/opt/game/run --fast"); }), "");
    EXPECT_EQ(ReadFile(home + "/data/applications/corvane-1234.desktop"),
              DesktopEntry("1234", "/opt/game/run --fast"));
    EXPECT_TRUE(Exists(home + "/config/mimeapps.list"));
    EXPECT_FALSE(Exists(Applications()));
}

TEST_F(LaunchRegistration, RegisteringAgainReplacesTheEntryAndKeepsOtherHandlers) {
    ASSERT_EQ(mkdir((home + "/.config").c_str(), 0700), 0);
    std::ofstream(Mimeapps()) << "[Default Applications]\ntext/html=browser.desktop\n"
                                 "x-scheme-handler/corvane-1234=old.desktop\n\n[Added Associations]\n"
                                 "x-scheme-handler/corvane-1234=other.desktop;\n";
    RegisterLaunchProtocol("1234", "/opt/first");
    RegisterLaunchProtocol("1234", "/opt/second \"quoted arg\" back\\slash");
    EXPECT_EQ(ReadFile(Applications() + "/corvane-1234.desktop"),
              DesktopEntry("1234", "/opt/second \"quoted arg\" back\\\\slash"));
    EXPECT_EQ(ReadFile(Mimeapps()),
              "[Default Applications]\nx-scheme-handler/corvane-1234=corvane-1234.desktop\n"
              "text/html=browser.desktop\n\n[Added Associations]\nx-scheme-handler/corvane-1234=other.desktop;\n");
}

TEST_F(LaunchRegistration, SteamLaunchRunsTheGameThroughTheSteamCommand) {
    std::string bin = home + "/steam bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
    std::ofstream(bin + "/steam") << "#!/bin/sh\n";
    ASSERT_EQ(chmod((bin + "/steam").c_str(), 0700), 0);
    setenv("PATH", ("/nonexistent:" + bin).c_str(), 1);

    EXPECT_EQ(MessagesOf([] { RegisterSteamLaunch("1234", "570"); }), "");
    EXPECT_EQ(ReadFile(Applications() + "/corvane-1234.desktop"),
              DesktopEntry("1234", "\"" + bin + "/steam\" steam://rungameid/570"));
}

TEST_F(LaunchRegistration, SteamLaunchWithoutSteamRegistersNothing) {
    setenv("PATH", (home + "/empty").c_str(), 1);
    EXPECT_EQ(MessagesOf([] { RegisterSteamLaunch("1234", "570"); }), "Error opening Steam key\n");
    EXPECT_FALSE(Exists(Applications()));
}

TEST_F(LaunchRegistration, RefusesInputThatDoesNotFitOrIsUnsafe) {
    const std::string longId(32, '1');
    const std::string longestId(31, '1');
    const std::string longCommand(1024, 'x');
    struct Case {
        const char* name;
        std::string id;
        const char* command;
        const char* steamId;
        const char* message;
    } cases[] = {
        {"null id", "", nullptr, nullptr, "Invalid application id\n"},
        {"id of 32 bytes", longId, nullptr, nullptr, "Invalid application id\n"},
        {"id with a slash", "../../x", nullptr, nullptr, "Invalid application id\n"},
        {"id with a new line", "12\n34", nullptr, nullptr, "Invalid application id\n"},
        {"command of 1024 bytes", "1234", longCommand.c_str(), nullptr, "Invalid command\n"},
        {"command with a new line", "1234", "/bin/game\n[Desktop Entry]", nullptr, "Invalid command\n"},
        {"Steam id of 32 bytes", "1234", nullptr, longId.c_str(), "Invalid Steam id\n"},
        {"empty Steam id", "1234", nullptr, "", "Invalid Steam id\n"},
    };
    for (const Case& c : cases) {
        const char* id = std::string(c.name) == "null id" ? nullptr : c.id.c_str();
        std::string messages = MessagesOf([&] {
            if (c.steamId != nullptr) {
                RegisterSteamLaunch(id, c.steamId);
            } else {
                RegisterLaunchProtocol(id, c.command);
            }
        });
        EXPECT_EQ(messages, c.message) << c.name;
        EXPECT_FALSE(Exists(Applications())) << c.name;
    }
    // The longest ids that fit are accepted.
    EXPECT_EQ(MessagesOf([&] { RegisterLaunchProtocol(longestId.c_str(), std::string(1023, 'x').c_str()); }), "");
    EXPECT_TRUE(Exists(Applications() + "/corvane-" + longestId + ".desktop"));
}

TEST_F(LaunchRegistration, UnwritableApplicationsDirectoryIsReported) {
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    std::ofstream(home + "/data") << "a file where the directory should be";
    EXPECT_EQ(MessagesOf([] { RegisterLaunchProtocol("1234", nullptr); }), "Error creating key\n");
    EXPECT_FALSE(Exists(Mimeapps()));
}

// Registration applies the application-id rule that the addon and the
// companion apply, and registers only ids that can end a URL scheme.
TEST_F(LaunchRegistration, RefusesEveryIdTheApplicationIdRuleRefuses) {
    for (const ApplicationIdCase& c : ApplicationIdCases()) {
        if (c.accepted || c.id.find('\0') != std::string::npos) continue;  // no C string holds a zero byte
        SCOPED_TRACE(::testing::PrintToString(c.id) + ": " + c.why);
        EXPECT_EQ(MessagesOf([&] { RegisterLaunchProtocol(c.id.c_str(), nullptr); }), "Invalid application id\n");
    }
    EXPECT_FALSE(Exists(Applications()));
    for (const char* id : {"300000000000000001", "v1..2", "COM10", "CONSOLE", "COM1x.lua"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(MessagesOf([&] { RegisterLaunchProtocol(id, nullptr); }), "");
        EXPECT_TRUE(Exists(Applications() + "/corvane-" + id + ".desktop"));
    }
}

}  // namespace
