#include "support/child_process.h"

#include <windows.h>

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::wstring Wide(const std::string& text) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], length);
    return wide;
}

// Quoted so that the program's own parsing gives back each argument.
std::wstring Quoted(const std::string& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t ch : Wide(argument)) {
        if (ch == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(ch == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += ch;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

}  // namespace

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = Quoted(program);
    for (const std::string& argument : arguments) commandLine += L" " + Quoted(argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION created{};
    BOOL started = CreateProcessW(Wide(program).c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &created);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    CloseHandle(created.hThread);
    process_ = reinterpret_cast<std::intptr_t>(created.hProcess);
    output_ = reinterpret_cast<std::intptr_t>(readEnd);
    return true;
}

bool ChildProcess::ReadMore(int timeoutMs) {
    if (output_ == -1) return false;
    ULONGLONG start = GetTickCount64();
    DWORD available = 0;
    for (;;) {
        if (!PeekNamedPipe(AsHandle(output_), nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available > 0) break;
        if (GetTickCount64() - start >= static_cast<ULONGLONG>(timeoutMs)) return true;  // nothing yet
        Sleep(1);
    }
    char buffer[4096];
    DWORD count = 0;
    if (!ReadFile(AsHandle(output_), buffer, available < sizeof buffer ? available : sizeof buffer, &count, nullptr) ||
        count == 0) {
        return false;
    }
    pending_.append(buffer, count);
    return true;
}

int ChildProcess::Wait(int timeoutMs) {
    if (process_ == -1) return exitCode_;
    if (WaitForSingleObject(AsHandle(process_), static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(AsHandle(process_), &code);
    CloseHandle(AsHandle(process_));
    process_ = -1;
    exitCode_ = static_cast<int>(code);
    return exitCode_;
}

void ChildProcess::Kill() {
    if (process_ != -1) {
        TerminateProcess(AsHandle(process_), 1);
        WaitForSingleObject(AsHandle(process_), INFINITE);
        CloseHandle(AsHandle(process_));
        process_ = -1;
    }
    if (output_ != -1) CloseHandle(AsHandle(output_));
    output_ = -1;
}
