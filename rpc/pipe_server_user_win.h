#pragma once
// Who serves a named pipe. The pipe names are machine-wide, so any user may
// have created the one the client finds first; the client only talks to a
// server that runs as its own user.

#include <windows.h>

// True when `token` is a token of the user `user`; false when that cannot
// be told (a token that cannot be queried, no valid user given).
bool TokenRunsAs(HANDLE token, PSID user);

// True when the process that serves `pipe` runs as this process's user.
bool PipeServerIsThisUser(HANDLE pipe);
