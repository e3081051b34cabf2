#include <windows.h>

#include "support/child_process.h"

namespace {

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length, nullptr,
                        nullptr);
    return text;
}

// One argument as the C runtime's command-line parser reads it back.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

HANDLE AsHandle(std::uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

void CloseIfOpen(std::uintptr_t& handle, std::uintptr_t none) {
    if (handle != none) CloseHandle(AsHandle(handle));
    handle = none;
}

// Every child of a test program is placed in this job, which ends them when
// the test program ends, however it ends. A test killed at its time-out
// would otherwise leave its children running, and a service among them
// would go on holding a pipe name that the next tests use.
HANDLE ChildrenJob() {
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        if (created == nullptr) return created;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(created);
            return HANDLE{nullptr};
        }
        return created;
    }();
    return job;
}

}  // namespace

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inputRead, inputWrite, outputRead, outputWrite;
    if (!CreatePipe(&inputRead, &inputWrite, &inheritable, 0)) return false;
    if (!CreatePipe(&outputRead, &outputWrite, &inheritable, 0)) {
        CloseHandle(inputRead);
        CloseHandle(inputWrite);
        return false;
    }
    // Only the child's ends are inherited.
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine;
    AppendQuoted(commandLine, Wide(program));
    for (const std::string& argument : arguments) {
        commandLine += L' ';
        AppendQuoted(commandLine, Wide(argument));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    const std::wstring path = Wide(program);
    // Suspended until it is in the job, so that nothing it starts escapes.
    const BOOL started = CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                        nullptr, nullptr, &startup, &info);
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    if (!started) {
        CloseHandle(inputWrite);
        CloseHandle(outputRead);
        return false;
    }
    const HANDLE job = ChildrenJob();
    if (job == nullptr || !AssignProcessToJobObject(job, info.hProcess) ||
        ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
        TerminateProcess(info.hProcess, 1);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        CloseHandle(inputWrite);
        CloseHandle(outputRead);
        return false;
    }
    CloseHandle(info.hThread);
    pid_ = info.dwProcessId;
    running_ = true;
    process_ = reinterpret_cast<std::uintptr_t>(info.hProcess);
    input_ = reinterpret_cast<std::uintptr_t>(inputWrite);
    output_ = reinterpret_cast<std::uintptr_t>(outputRead);
    return true;
}

std::size_t ChildProcess::ReadSome(char* buffer, std::size_t size) {
    if (output_ == kNone) return 0;
    DWORD got = 0;
    if (!ReadFile(AsHandle(output_), buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
}

bool ChildProcess::OutputWaiting(std::uint32_t timeoutMs) {
    if (output_ == kNone) return true;  // ReadSome reports the end
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(AsHandle(output_), nullptr, 0, nullptr, &available, nullptr)) return true;  // ended
        if (available > 0) return true;
        if (GetTickCount64() - start >= timeoutMs) return false;
        Sleep(1);
    }
}

bool ChildProcess::WriteLine(const std::string& line) {
    if (input_ == kNone) return false;
    const std::string text = line + "\n";
    DWORD put = 0;
    return WriteFile(AsHandle(input_), text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
           put == text.size();
}

void ChildProcess::CloseInput() {
    CloseIfOpen(input_, kNone);
}

bool ChildProcess::Wait(std::uint32_t timeoutMs, int& exitCode) {
    if (!running_ || WaitForSingleObject(AsHandle(process_), timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(AsHandle(process_), &code);
    exitCode = static_cast<int>(code);
    running_ = false;
    return true;
}

void ChildProcess::Kill() {
    if (!running_) return;
    TerminateProcess(AsHandle(process_), 1);
    WaitForSingleObject(AsHandle(process_), INFINITE);
    running_ = false;
}

void ChildProcess::CloseHandles() {
    CloseIfOpen(input_, kNone);
    CloseIfOpen(output_, kNone);
    CloseIfOpen(process_, kNone);
}

std::string PathBesideThisProgram(const std::string& relative) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return relative;
    std::wstring self(path, length);
    return Narrow(self.substr(0, self.find_last_of(L"\\/") + 1)) + relative;
}

std::string ProgramBesideThisOne(const std::string& name) {
    return PathBesideThisProgram(name + ".exe");
}
