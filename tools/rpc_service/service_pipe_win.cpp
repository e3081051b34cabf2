// The service's end as the named pipe "\\.\pipe\corvane-ipc-N". One pipe
// instance exists at a time, so a second client finds the pipe busy and waits
// until the service takes it.

#include "tools/rpc_service/service_pipe.h"

#include <windows.h>

namespace {

constexpr DWORD kBufferSize = 2 * 65536;

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t AsInt(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }
const std::intptr_t kNone = AsInt(INVALID_HANDLE_VALUE);

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The first instance claims the name; later ones continue it.
HANDLE CreateInstance(const std::string& name, bool first) {
    DWORD openMode = PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    return CreateNamedPipeW(Wide(name).c_str(), openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, 0, nullptr);
}

// The flag for the first instance is not honoured everywhere (Wine creates
// a further instance), so a name in use is first looked for: waiting on a
// name that no service holds fails at once with "file not found".
bool NameIsHeld(const std::string& name) {
    return WaitNamedPipeW(Wide(name).c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
}

bool ClientHasConnected(HANDLE instance) {
    DWORD available = 0;
    if (PeekNamedPipe(instance, nullptr, 0, nullptr, &available, nullptr)) return true;
    return GetLastError() == ERROR_BROKEN_PIPE;  // it came and has gone already
}

bool TimeLeft(int timeoutMs, ULONGLONG start) {
    return timeoutMs < 0 || GetTickCount64() - start < static_cast<ULONGLONG>(timeoutMs);
}

}  // namespace

bool ServicePipe::Listen(int digit, std::string& error) {
    Stop();
    int first = digit < 0 ? 0 : digit;
    int last = digit < 0 ? 9 : digit;
    for (int d = first; d <= last; ++d) {
        std::string name = std::string("\\\\.\\pipe\\corvane-ipc-") + static_cast<char>('0' + d);
        if (NameIsHeld(name)) continue;
        HANDLE instance = CreateInstance(name, true);
        if (instance != INVALID_HANDLE_VALUE) {
            listener_ = AsInt(instance);
            name_ = name;
            return true;
        }
    }
    error = digit < 0 ? "every pipe from corvane-ipc-0 to corvane-ipc-9 is held by another service"
                      : std::string("pipe corvane-ipc-") + static_cast<char>('0' + digit) +
                            " is held by another service";
    return false;
}

bool ServicePipe::Accept(int timeoutMs) {
    Disconnect();
    if (listener_ == kNone) return false;
    HANDLE instance = AsHandle(listener_);
    if (timeoutMs < 0) {
        if (!ConnectNamedPipe(instance, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return false;
    } else {
        ULONGLONG start = GetTickCount64();
        while (!ClientHasConnected(instance)) {
            if (!TimeLeft(timeoutMs, start)) return false;
            Sleep(1);
        }
    }
    client_ = listener_;
    listener_ = kNone;
    return true;
}

bool ServicePipe::HasClient() const { return client_ != kNone; }

PipeRead ServicePipe::ReadExact(void* destination, std::size_t count, int timeoutMs) {
    if (client_ == kNone) return PipeRead::Gone;
    HANDLE pipe = AsHandle(client_);
    ULONGLONG start = GetTickCount64();
    char* bytes = static_cast<char*>(destination);
    while (count > 0) {
        DWORD chunk = static_cast<DWORD>(count);
        if (timeoutMs >= 0) {  // read only what has arrived, so that the wait stays bounded
            DWORD available = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return PipeRead::Gone;
            if (available == 0) {
                if (!TimeLeft(timeoutMs, start)) return PipeRead::TimedOut;
                Sleep(1);
                continue;
            }
            if (available < chunk) chunk = available;
        }
        DWORD received = 0;
        if (!ReadFile(pipe, bytes, chunk, &received, nullptr) || received == 0) return PipeRead::Gone;
        bytes += received;
        count -= received;
    }
    return PipeRead::Done;
}

bool ServicePipe::WriteAll(const void* source, std::size_t count) {
    if (client_ == kNone) return false;
    const char* bytes = static_cast<const char*>(source);
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(AsHandle(client_), bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

// The next instance is created before the old one closes, so the name never
// disappears and a client waiting for the busy pipe gets through. Flushing
// first lets the client read what was written to it.
void ServicePipe::Disconnect() {
    if (client_ == kNone) return;
    HANDLE pipe = AsHandle(client_);
    FlushFileBuffers(pipe);
    if (listener_ == kNone && !name_.empty()) {
        HANDLE next = CreateInstance(name_, false);
        if (next != INVALID_HANDLE_VALUE) listener_ = AsInt(next);
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    client_ = kNone;
}

void ServicePipe::Stop() {
    if (client_ != kNone) CloseHandle(AsHandle(client_));
    if (listener_ != kNone) CloseHandle(AsHandle(listener_));
    client_ = kNone;
    listener_ = kNone;
    name_.clear();
}
