// Windows backend of the launch operations: a job with kill-on-close, the
// module's own directory, and a suspended start that joins the job before it
// runs. Paths and the command line are UTF-8 inside the addon and UTF-16 at
// the system calls, so folders with any characters work.

#include "launch.h"
#include "launch_win.h"

#include <windows.h>
#include <shlwapi.h>

namespace corvane {

const char kPathSeparator[] = "\\";
const char kExecutableSuffix[] = ".exe";

std::wstring wideFromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string utf8FromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length,
                        nullptr, nullptr);
    return utf8;
}

namespace {

// The quoting that CommandLineToArgvW undoes: backslashes are literal unless
// they precede a double quote, where each one is doubled and the quote escaped.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
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
        line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

}  // namespace

std::wstring commandLineFor(const std::vector<std::string>& arguments) {
    std::wstring line = L"\"" + wideFromUtf8(arguments.at(0)) + L"\"";
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        line += L' ';
        AppendArgument(line, wideFromUtf8(arguments[i]));
    }
    return line;
}

ChildJob createChildJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return ChildJob{};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    // A job that would not end its companions with the host is not kept.
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return ChildJob{};
    }
    return ChildJob{reinterpret_cast<std::uintptr_t>(job)};
}

std::string moduleDirectory() {
    // When the lookup fails the handle stays null, which names the host
    // executable instead.
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&moduleDirectory)), &module);
    std::vector<wchar_t> path(4096, L'\0');
    GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    PathRemoveFileSpecW(path.data());
    return utf8FromWide(path.data());
}

bool pathExists(const std::string& path) {
    return PathFileExistsW(wideFromUtf8(path).c_str()) == TRUE;
}

// The x86 companion is the safe default: it is used unless the process is
// known to run natively on x64.
bool isNative64BitProcess(std::uint32_t pid) {
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    if (system.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_AMD64) return false;
    BOOL wow64 = TRUE;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process != nullptr) {
        if (!IsWow64Process(process, &wow64)) wow64 = TRUE;
        CloseHandle(process);
    }
    return wow64 == FALSE;
}

std::optional<std::uint32_t> startInJob(ChildJob job, const std::vector<std::string>& arguments,
                                        const std::string& workingDirectory) {
    if (!job || arguments.empty()) return std::nullopt;
    std::wstring commandLine = commandLineFor(arguments);  // CreateProcessW may write into it
    std::wstring directory = wideFromUtf8(workingDirectory);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        directory.c_str(), &startup, &started)) {
        return std::nullopt;
    }
    // Suspended until it is in the job, so it never runs outside it.
    bool running = AssignProcessToJobObject(reinterpret_cast<HANDLE>(job.handle), started.hProcess) &&
                   ResumeThread(started.hThread) != static_cast<DWORD>(-1);
    if (!running) TerminateProcess(started.hProcess, 0);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    if (!running) return std::nullopt;
    return static_cast<std::uint32_t>(started.dwProcessId);
}

}  // namespace corvane
