// What only the named pipe can tell: the pipe names are machine-wide, so the
// client lets the server identify it but never act as it, and it takes a
// pipe only from a server that runs as its own user. Under Wine every process
// runs as one user, so the comparison of users is tested on tokens and user
// ids the system makes, and the real pipe shows a server of this user taken.

#include <string>

#include <windows.h>

#include <gtest/gtest.h>

#include "rpc/pipe_server_user_win.h"
#include "rpc/pipe_transport.h"

namespace {

// This process's token, closed at the end of the scope.
struct OwnToken {
    HANDLE handle = nullptr;
    OwnToken() { OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &handle); }
    ~OwnToken() {
        if (handle != nullptr) CloseHandle(handle);
    }
};

union UserRecord {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

struct WellKnownSid {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
    explicit WellKnownSid(WELL_KNOWN_SID_TYPE type) {
        DWORD size = sizeof bytes;
        if (!CreateWellKnownSid(type, nullptr, bytes, &size)) bytes[0] = 0;
    }
    PSID Sid() { return bytes; }
};

TEST(PipeServerUserTest, ATokenRunsAsItsOwnUserOnly) {
    OwnToken own;
    ASSERT_NE(own.handle, nullptr);
    UserRecord record;
    DWORD length = 0;
    ASSERT_TRUE(GetTokenInformation(own.handle, TokenUser, &record, sizeof record, &length));
    WellKnownSid system(WinLocalSystemSid);
    WellKnownSid everyone(WinWorldSid);  // a group every token holds, not a user
    WellKnownSid users(WinBuiltinUsersSid);

    EXPECT_TRUE(TokenRunsAs(own.handle, record.user.User.Sid));
    EXPECT_FALSE(TokenRunsAs(own.handle, system.Sid()));
    EXPECT_FALSE(TokenRunsAs(own.handle, everyone.Sid()));
    EXPECT_FALSE(TokenRunsAs(own.handle, users.Sid()));
    EXPECT_FALSE(TokenRunsAs(own.handle, nullptr));
    EXPECT_FALSE(TokenRunsAs(nullptr, record.user.User.Sid));
    EXPECT_FALSE(TokenRunsAs(INVALID_HANDLE_VALUE, record.user.User.Sid));
}

constexpr wchar_t kPipeName[] = L"\\\\.\\pipe\\corvane-ipc-0";

HANDLE ServePipe() {
    return CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096,
                            4096, 0, nullptr);
}

// How far the pipe's server may act as its client, as the server sees it
// once the client has written a byte: its thread takes the client's identity.
SECURITY_IMPERSONATION_LEVEL LevelGrantedTo(HANDLE server) {
    char byte = 0;
    DWORD received = 0;
    if (!ReadFile(server, &byte, 1, &received, nullptr) || received != 1) return SecurityDelegation;
    if (!ImpersonateNamedPipeClient(server)) return SecurityDelegation;
    HANDLE token = nullptr;
    SECURITY_IMPERSONATION_LEVEL level = SecurityDelegation;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        DWORD length = 0;
        GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof level, &length);
        CloseHandle(token);
    }
    RevertToSelf();
    return level;
}

// The level a client that asks for `flags` grants, opened here directly.
SECURITY_IMPERSONATION_LEVEL LevelAskedWith(DWORD flags) {
    HANDLE server = ServePipe();
    HANDLE client = CreateFileW(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    DWORD written = 0;
    SECURITY_IMPERSONATION_LEVEL level = SecurityDelegation;
    if (client != INVALID_HANDLE_VALUE && WriteFile(client, "x", 1, &written, nullptr)) level = LevelGrantedTo(server);
    if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
    CloseHandle(server);
    return level;
}

TEST(PipeServerUserTest, APipeServedByThisUserIsTaken) {
    HANDLE server = ServePipe();
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    PipeTransport* transport = PipeTransport::Create();
    ASSERT_TRUE(transport->Open());
    EXPECT_TRUE(PipeServerIsThisUser(reinterpret_cast<HANDLE>(transport->handle)));
    transport->Close();
    CloseHandle(server);
}

TEST(PipeServerUserTest, TheServerMayIdentifyTheClientButNotActAsIt) {
    // Wine grants every pipe server the client's full identity, whatever
    // the client asked for; there, what the client asks cannot be seen.
    if (LevelAskedWith(SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS) != SecurityAnonymous) {
        GTEST_SKIP() << "this system does not honour the level a pipe client asks for";
    }
    HANDLE server = ServePipe();
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    PipeTransport* transport = PipeTransport::Create();
    ASSERT_TRUE(transport->Open());
    ASSERT_TRUE(transport->Write("x", 1));
    EXPECT_EQ(LevelGrantedTo(server), SecurityIdentification);
    transport->Close();
    CloseHandle(server);
}

}  // namespace
