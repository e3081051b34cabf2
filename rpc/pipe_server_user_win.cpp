#include "rpc/pipe_server_user_win.h"

namespace {

// A token's user, with room for the largest user id there is.
union TokenUserRecord {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

bool ReadTokenUser(HANDLE token, TokenUserRecord& record) {
    DWORD length = 0;
    return GetTokenInformation(token, TokenUser, &record, sizeof record, &length) != 0;
}

bool ProcessRunsAs(HANDLE process, PSID user) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
    const bool same = TokenRunsAs(token, user);
    CloseHandle(token);
    return same;
}

}  // namespace

bool TokenRunsAs(HANDLE token, PSID user) {
    if (token == nullptr || token == INVALID_HANDLE_VALUE || user == nullptr || !IsValidSid(user)) return false;
    TokenUserRecord record;
    return ReadTokenUser(token, record) && EqualSid(record.user.User.Sid, user);
}

bool PipeServerIsThisUser(HANDLE pipe) {
    ULONG serverId = 0;
    if (!GetNamedPipeServerProcessId(pipe, &serverId)) return false;
    HANDLE ownToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &ownToken)) return false;
    TokenUserRecord own;
    const bool known = ReadTokenUser(ownToken, own);
    CloseHandle(ownToken);
    if (!known) return false;
    // A server this user may not even query is another user's.
    HANDLE server = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverId);
    if (server == nullptr) return false;
    const bool same = ProcessRunsAs(server, own.user.User.Sid);
    CloseHandle(server);
    return same;
}
