// The process list on Windows: a Toolhelp snapshot for the ids and
// executable names, IsWow64Process for the bitness, and the target's own
// open (with the same access rights) to tell whether it may be read.
#include <windows.h>
// tlhelp32.h needs the types of windows.h.
#include <tlhelp32.h>

#include <string>

#include "target/process_list.h"

namespace {

constexpr DWORD kOpenAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // as the target's open
constexpr DWORD kQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return "";
    std::string converted(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &converted[0], size, nullptr, nullptr);
    converted.resize(static_cast<std::size_t>(size - 1));
    return converted;
}

// 64-bit only on a 64-bit system and outside the 32-bit emulation, as the
// launcher decides.
Bitness ProcessBitness(DWORD pid) {
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL) return Bitness::Bits32;
    HANDLE process = OpenProcess(kQueryLimited, FALSE, pid);
    if (process == nullptr) process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process == nullptr) return Bitness::Unknown;
    BOOL wow64 = FALSE;
    const BOOL known = IsWow64Process(process, &wow64);
    CloseHandle(process);
    if (!known) return Bitness::Unknown;
    return wow64 ? Bitness::Bits32 : Bitness::Bits64;
}

ProcessAccess CheckAccess(DWORD pid) {
    ProcessAccess access;
    HANDLE process = OpenProcess(kOpenAccess, FALSE, pid);
    if (process != nullptr) {
        CloseHandle(process);
        access.readable = true;
        return access;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
        access.cause = "access denied (it runs as another user, elevated, or protected)";
        access.remedy = "run the probe as the game's user, or from an elevated (administrator) prompt";
    } else {
        access.cause = "OpenProcess failed with error " + std::to_string(error);
        access.remedy = "run the probe from an elevated (administrator) prompt";
    }
    return access;
}

ProcessInfo Describe(const PROCESSENTRY32W& entry) {
    ProcessInfo info;
    info.pid = entry.th32ProcessID;
    info.name = Utf8(entry.szExeFile);
    info.bitness = ProcessBitness(entry.th32ProcessID);
    info.access = CheckAccess(entry.th32ProcessID);
    return info;
}

// Calls `visit` with each entry of a new snapshot until it returns false.
template <typename Visit>
bool ForEachEntry(Visit visit) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (!visit(entry)) break;
    }
    CloseHandle(snapshot);
    return true;
}

}  // namespace

bool ListProcesses(const std::function<void(const ProcessInfo&)>& visit) {
    return ForEachEntry([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ProcessID != 0) visit(Describe(entry));  // 0 is the idle process
        return true;
    });
}

bool DescribeProcess(std::uint32_t pid, ProcessInfo& info) {
    bool found = false;
    ForEachEntry([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ProcessID != pid) return true;
        info = Describe(entry);
        found = true;
        return false;
    });
    return found && pid != 0;
}

// The x64 companion only for 64-bit targets; the x86 one for every other.
const char* LauncherCompanionArchitecture(Bitness bitness) { return bitness == Bitness::Bits64 ? "x64" : "x86"; }
