// The transport over the named pipe "\\?\pipe\corvane-ipc-N", N from 0 to 9.

#include "rpc/pipe_transport.h"

#include <windows.h>

namespace {

constexpr DWORD kBusyPipeWaitMs = 10000;

HANDLE PipeHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
bool IsValid(std::intptr_t handle) { return PipeHandle(handle) != INVALID_HANDLE_VALUE; }

}  // namespace

bool PipeTransport::Open() {
    wchar_t pipeName[] = L"\\\\?\\pipe\\corvane-ipc-0";
    wchar_t& digit = pipeName[sizeof pipeName / sizeof pipeName[0] - 2];
    for (;;) {
        HANDLE pipe = CreateFileW(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            handle = reinterpret_cast<std::intptr_t>(pipe);
            pipeOpen = true;
            return true;
        }
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            if (digit == L'9') return false;
            ++digit;
        } else if (error == ERROR_PIPE_BUSY) {
            if (!WaitNamedPipeW(pipeName, kBusyPipeWaitMs)) return false;
        } else {
            return false;
        }
    }
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
    DWORD received = 0;
    if (!ReadFile(PipeHandle(handle), destination, static_cast<DWORD>(count), &received, nullptr) ||
        received != count) {
        Close();
        return false;
    }
    return true;
}

bool PipeTransport::Write(const void* source, std::size_t count) {
    if (count == 0) return true;
    if (!IsValid(handle) || source == nullptr) return false;
    DWORD written = 0;
    return WriteFile(PipeHandle(handle), source, static_cast<DWORD>(count), &written, nullptr) && written == count;
}

int CurrentProcessId() { return static_cast<int>(GetCurrentProcessId()); }
