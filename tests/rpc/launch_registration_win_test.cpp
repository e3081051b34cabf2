// The launch protocol as keys below the user's Software\Classes, read back
// from the registry of the test's Wine prefix; the messages on the standard
// error stream.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "rpc/launch_registration.h"
#include "support/application_id_cases.h"
#include "rpc/presence_client.h"

namespace {

const wchar_t kProtocolKey[] = L"Software\\Classes\\corvane-1234";
const wchar_t kSteamKey[] = L"Software\\Valve\\Steam";

struct Value {
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::wstring text;
};

Value ReadValue(const wchar_t* keyPath, const wchar_t* name) {
    Value value;
    wchar_t buffer[2048] = {};
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    value.status = RegGetValueW(HKEY_CURRENT_USER, keyPath, name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, buffer, &bytes);
    value.text = buffer;
    return value;
}

bool KeyExists(const wchar_t* keyPath) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void SetSteamExe(DWORD type, const void* data, DWORD bytes) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSteamKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"SteamExe", 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    RegCloseKey(key);
}

std::wstring ExecutablePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Every test starts without the protocol key and without a Steam key.
class LaunchRegistration : public testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kProtocolKey);
        RegDeleteTreeW(HKEY_CURRENT_USER, kSteamKey);
    }
    void TearDown() override { SetUp(); }

    template <typename Registration>
    std::string MessagesOf(Registration registration) {
        testing::internal::CaptureStderr();
        registration();
        std::fflush(stderr);
        return testing::internal::GetCapturedStderr();
    }

    void ExpectCommand(const std::wstring& command) {
        Value value = ReadValue(L"Software\\Classes\\corvane-1234\\shell\\open\\command", nullptr);
        EXPECT_EQ(value.status, ERROR_SUCCESS);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(value.text, command);
    }
};

TEST_F(LaunchRegistration, WithoutCommandRegistersTheBareExecutablePath) {
    EXPECT_EQ(MessagesOf([] { RegisterLaunchProtocol("1234", nullptr); }), "");

    Value description = ReadValue(kProtocolKey, nullptr);
    EXPECT_EQ(description.status, ERROR_SUCCESS);
    EXPECT_EQ(description.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(description.text, L"URL:Run game 1234 protocol");
    Value urlProtocol = ReadValue(kProtocolKey, L"URL Protocol");
    EXPECT_EQ(urlProtocol.status, ERROR_SUCCESS);
    EXPECT_EQ(urlProtocol.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(urlProtocol.text, L"");
    Value icon = ReadValue(L"Software\\Classes\\corvane-1234\\DefaultIcon", nullptr);
    EXPECT_EQ(icon.status, ERROR_SUCCESS);
    EXPECT_EQ(icon.text, ExecutablePath());
    ExpectCommand(ExecutablePath());
}

// The client registers only when asked, and asked without a Steam id or with
// an empty one it registers the running executable.
TEST_F(LaunchRegistration, InitialiseWithoutASteamIdRegistersTheExecutable) {
    rpc_initialize("1234", nullptr, 0, nullptr);
    rpc_shutdown();
    EXPECT_FALSE(KeyExists(kProtocolKey));
    for (const char* steamId : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(steamId == nullptr ? "no Steam id" : "an empty Steam id");
        RegDeleteTreeW(HKEY_CURRENT_USER, kProtocolKey);
        EXPECT_EQ(MessagesOf([steamId] { rpc_initialize("1234", nullptr, 1, steamId); }), "");
        rpc_shutdown();
        ExpectCommand(ExecutablePath());
    }
}

TEST_F(LaunchRegistration, EmptyCommandIsTheExecutableAndASecondCallReplacesTheValues) {
    RegisterLaunchProtocol("1234", "C:\\Games\\first.exe");
    ExpectCommand(L"C:\\Games\\first.exe");
    RegisterLaunchProtocol("1234", "");
    ExpectCommand(ExecutablePath());
    RegisterLaunchProtocol("1234", "\"C:\\Games\\J\xC3\xA9u\\game.exe\" --url \"%1\"");
    ExpectCommand(L"\"C:\\Games\\J\u00e9u\\game.exe\" --url \"%1\"");
}

TEST_F(LaunchRegistration, SteamLaunchQuotesTheSteamPathWithBackslashes) {
    const wchar_t steamExe[] = L"C:/Program Files (x86)/Steam/steam.exe";
    SetSteamExe(REG_SZ, steamExe, sizeof steamExe);
    EXPECT_EQ(MessagesOf([] { RegisterSteamLaunch("1234", "570"); }), "");
    ExpectCommand(L"\"C:\\Program Files (x86)\\Steam\\steam.exe\" steam://rungameid/570");
    EXPECT_EQ(ReadValue(L"Software\\Classes\\corvane-1234\\DefaultIcon", nullptr).text, ExecutablePath());
}

TEST_F(LaunchRegistration, SteamLaunchWithoutUsableSteamKeyRegistersNothing) {
    EXPECT_EQ(MessagesOf([] { RegisterSteamLaunch("1234", "570"); }), "Error opening Steam key\n");
    EXPECT_FALSE(KeyExists(kProtocolKey));

    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSteamKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(MessagesOf([] { RegisterSteamLaunch("1234", "570"); }), "Error reading SteamExe key\n");

    // A value that fills all 520 bytes without a terminator, an empty one,
    // and one that is not text are all unusable.
    std::wstring unterminated(260, L'a');
    SetSteamExe(REG_BINARY, unterminated.data(), 520);
    EXPECT_EQ(MessagesOf([] { RegisterSteamLaunch("1234", "570"); }), "Error reading SteamExe key\n");
    SetSteamExe(REG_SZ, L"", sizeof(wchar_t));
    EXPECT_EQ(MessagesOf([] { RegisterSteamLaunch("1234", "570"); }), "Error reading SteamExe key\n");
    DWORD number = 42;
    SetSteamExe(REG_DWORD, &number, sizeof number);
    EXPECT_EQ(MessagesOf([] { RegisterSteamLaunch("1234", "570"); }), "Error reading SteamExe key\n");
    std::wstring tooLong(300, L'b');
    SetSteamExe(REG_SZ, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(MessagesOf([] { RegisterSteamLaunch("1234", "570"); }), "Error reading SteamExe key\n");
    EXPECT_FALSE(KeyExists(kProtocolKey));
}

TEST_F(LaunchRegistration, RefusesInputThatDoesNotFitItsBuffer) {
    const std::string longId(32, '1');
    const std::string longestId(31, '1');
    const std::string longCommand(1024, 'x');
    const wchar_t steamExe[] = L"C:\\Steam\\steam.exe";
    SetSteamExe(REG_SZ, steamExe, sizeof steamExe);

    EXPECT_EQ(MessagesOf([&] { RegisterLaunchProtocol(longId.c_str(), nullptr); }), "Invalid application id\n");
    EXPECT_EQ(MessagesOf([] { RegisterLaunchProtocol(nullptr, nullptr); }), "Invalid application id\n");
    EXPECT_EQ(MessagesOf([&] { RegisterLaunchProtocol("1234", longCommand.c_str()); }), "Invalid command\n");
    EXPECT_EQ(MessagesOf([&] { RegisterSteamLaunch("1234", longId.c_str()); }), "Invalid Steam id\n");
    EXPECT_EQ(MessagesOf([&] { RegisterSteamLaunch(longId.c_str(), "570"); }), "Invalid application id\n");
    EXPECT_FALSE(KeyExists(kProtocolKey));

    // What just fits is used whole.
    std::string longestCommand(1023, 'y');
    EXPECT_EQ(MessagesOf([&] { RegisterLaunchProtocol("1234", longestCommand.c_str()); }), "");
    ExpectCommand(std::wstring(1023, L'y'));
    EXPECT_EQ(MessagesOf([&] { RegisterSteamLaunch("1234", longestId.c_str()); }), "");
    ExpectCommand(L"\"C:\\Steam\\steam.exe\" steam://rungameid/" + std::wstring(31, L'1'));
}

// Registration applies the application-id rule that the addon and the
// companion apply, and registers only ids that can end a URL scheme: a
// backslash would name another key, a space or a quote would break the
// command line.
TEST_F(LaunchRegistration, RefusesEveryIdTheApplicationIdRuleRefuses) {
    const char* const registered[] = {"300000000000000001", "v1..2", "COM10", "CONSOLE", "COM1x.lua"};
    auto keyOf = [](const std::string& id) {
        const std::string key = "Software\\Classes\\corvane-" + id;
        return std::wstring(key.begin(), key.end());
    };
    auto removeKeys = [&] {
        for (const char* id : registered) RegDeleteTreeW(HKEY_CURRENT_USER, keyOf(id).c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, keyOf("a").c_str());
    };
    removeKeys();
    for (const ApplicationIdCase& c : ApplicationIdCases()) {
        if (c.accepted || c.id.find('\0') != std::string::npos) continue;  // no C string holds a zero byte
        SCOPED_TRACE(::testing::PrintToString(c.id) + ": " + c.why);
        EXPECT_EQ(MessagesOf([&] { RegisterLaunchProtocol(c.id.c_str(), nullptr); }), "Invalid application id\n");
        EXPECT_EQ(MessagesOf([&] { RegisterSteamLaunch(c.id.c_str(), "570"); }), "Invalid application id\n");
    }
    for (const char* id : {"CON", "x.", "a\\b", ".."}) EXPECT_FALSE(KeyExists(keyOf(id).c_str())) << id;
    for (const char* id : registered) {
        SCOPED_TRACE(id);
        EXPECT_EQ(MessagesOf([&] { RegisterLaunchProtocol(id, nullptr); }), "");
        EXPECT_TRUE(KeyExists(keyOf(id).c_str()));
    }
    removeKeys();
}

}  // namespace
