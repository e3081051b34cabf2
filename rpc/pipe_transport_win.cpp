// The transport over the named pipe "\\?\pipe\corvane-ipc-N", N from 0 to 9.
// The pipe is opened for overlapped I/O so that every transfer can be given
// up when the service does not take or give its bytes in time. The names are
// machine-wide: a pipe is taken only when its server runs as this user, and
// the server may identify the client but never act as it.

#include "rpc/pipe_transport.h"

#include <windows.h>

#include "rpc/pipe_server_user_win.h"

namespace {

constexpr DWORD kOpenFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

HANDLE PipeHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
bool IsValid(std::intptr_t handle) { return PipeHandle(handle) != INVALID_HANDLE_VALUE; }

enum class Transfer { Done, Failed, TimedOut };

// One read or write of exactly `count` bytes, waited for up to `timeoutMs`.
// A transfer still pending then is cancelled, and waited for until the
// cancellation has finished, since the system writes to `overlapped` and
// `bytes` until then.
Transfer TransferWithin(HANDLE pipe, bool writing, void* bytes, DWORD count, DWORD timeoutMs) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return Transfer::Failed;
    const BOOL started = writing ? WriteFile(pipe, bytes, count, nullptr, &overlapped)
                                 : ReadFile(pipe, bytes, count, nullptr, &overlapped);
    Transfer result = Transfer::Failed;
    if (started || GetLastError() == ERROR_IO_PENDING) {
        const bool inTime = WaitForSingleObject(overlapped.hEvent, timeoutMs) == WAIT_OBJECT_0;
        if (!inTime) CancelIoEx(pipe, &overlapped);
        DWORD transferred = 0;
        const bool whole = GetOverlappedResult(pipe, &overlapped, &transferred, TRUE) && transferred == count;
        result = whole ? Transfer::Done : inTime ? Transfer::Failed : Transfer::TimedOut;
    }
    CloseHandle(overlapped.hEvent);
    return result;
}

enum class NameResult { Opened, NextName, Failed };

// Opens the pipe `name` when a server of this user listens there. A name
// nobody serves, or another user's, is passed over; a busy one is waited for
// in slices until the wait for the name is over, then passed over too.
NameResult OpenName(const wchar_t* name, detail::OpenClock& clock, HANDLE& pipe) {
    clock.StartName();
    for (;;) {
        pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kOpenFlags, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            if (PipeServerIsThisUser(pipe)) return NameResult::Opened;
            CloseHandle(pipe);
            pipe = INVALID_HANDLE_VALUE;
            return NameResult::NextName;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_BUSY) {
            const unsigned slice = clock.NextSliceMs();
            if (slice == 0) return NameResult::NextName;
            WaitNamedPipeW(name, slice);  // ends early once an instance is free
            continue;
        }
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_ACCESS_DENIED) ? NameResult::NextName
                                                                               : NameResult::Failed;
    }
}

}  // namespace

bool PipeTransport::Open(const std::atomic<bool>* running) {
    wchar_t pipeName[] = L"\\\\?\\pipe\\corvane-ipc-0";
    wchar_t& digit = pipeName[sizeof pipeName / sizeof pipeName[0] - 2];
    detail::OpenClock clock(running);
    for (; !clock.Over(); ++digit) {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        NameResult result = OpenName(pipeName, clock, pipe);
        if (result == NameResult::Opened) {
            handle = reinterpret_cast<std::intptr_t>(pipe);
            pipeOpen = true;
            return true;
        }
        if (result == NameResult::Failed || digit == L'9') return false;
    }
    return false;
}

bool PipeTransport::Close() {
    if (IsValid(handle)) CloseHandle(PipeHandle(handle));
    handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    pipeOpen = false;
    return true;
}

bool PipeTransport::Read(void* destination, std::size_t count) {
    if (destination == nullptr || !IsValid(handle)) return false;
    DWORD available = 0;
    if (!PeekNamedPipe(PipeHandle(handle), nullptr, 0, nullptr, &available, nullptr)) {
        Close();
        return false;
    }
    if (available < count) return false;
    // The bytes are there, so the read ends at once; the deadline only
    // guards against a pipe that misbehaves.
    if (TransferWithin(PipeHandle(handle), false, destination, static_cast<DWORD>(count), kWriteDeadlineMs) !=
        Transfer::Done) {
        Close();
        return false;
    }
    return true;
}

std::size_t PipeTransport::ReadAvailable(void* destination, std::size_t most) {
    if (destination == nullptr || !IsValid(handle) || most == 0) return 0;
    DWORD available = 0;
    if (!PeekNamedPipe(PipeHandle(handle), nullptr, 0, nullptr, &available, nullptr)) {
        Close();
        return 0;
    }
    const std::size_t count = available < most ? available : most;
    return count != 0 && Read(destination, count) ? count : 0;
}

bool PipeTransport::Write(const void* source, std::size_t count) {
    if (count == 0) return true;
    if (!IsValid(handle) || source == nullptr) return false;
    switch (TransferWithin(PipeHandle(handle), true, const_cast<void*>(source), static_cast<DWORD>(count),
                           kWriteDeadlineMs)) {
    case Transfer::Done:
        return true;
    case Transfer::TimedOut:
        Close();
        return false;
    case Transfer::Failed:
        break;
    }
    return false;
}

int CurrentProcessId() { return static_cast<int>(GetCurrentProcessId()); }
