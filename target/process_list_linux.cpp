// The process list on Linux: /proc/<pid>/ for each process's executable,
// its ids and its memory file, whose opening is the same permission test
// the target's open makes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "target/process_list.h"
#include "target/ptrace_denial.h"

namespace {

constexpr int kCapSysPtrace = 19;

std::string ProcPath(std::uint32_t pid, const char* file) {
    return "/proc/" + std::to_string(pid) + "/" + file;
}

// The file name the process's exe link names where this process may follow
// it, otherwise the kernel's short name of the process.
std::string LinkedExecutableName(std::uint32_t pid) {
    char target[PATH_MAX];
    const ssize_t length = readlink(ProcPath(pid, "exe").c_str(), target, sizeof target - 1);
    if (length > 0) {
        std::string path(target, static_cast<std::size_t>(length));
        const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
            path.resize(path.size() - deleted.size());
        }
        return path.substr(path.rfind('/') + 1);
    }
    std::ifstream comm(ProcPath(pid, "comm"));
    std::string name;
    std::getline(comm, name);
    return name;
}

bool IsWineLoader(const std::string& name) {
    return name == "wine" || name == "wine64" || name == "wine-preloader" || name == "wine64-preloader";
}

bool EndsWithExe(const std::string& path) {
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".exe";
}

// A Windows program under Wine runs in a Wine loader, and Wine puts the
// program's Windows path ("Z:\games\mines.exe") in the process's first
// argument: the program's own file name is the name an author looks for.
// Empty while the loader has not yet put it there.
std::string WindowsProgramName(std::uint32_t pid) {
    std::ifstream cmdline(ProcPath(pid, "cmdline"), std::ios::binary);
    std::string first;
    std::getline(cmdline, first, '\0');
    if (first.find('\\') == std::string::npos && !EndsWithExe(first)) return "";
    return first.substr(first.find_last_of("\\/") + 1);
}

// The file name of the process's executable; for a Wine loader, that of the
// Windows program it runs.
std::string ExecutableName(std::uint32_t pid) {
    std::string name = LinkedExecutableName(pid);
    if (!IsWineLoader(name)) return name;
    const std::string program = WindowsProgramName(pid);
    return program.empty() ? name : program;
}

// The class byte of the executable's ELF header.
Bitness ExecutableBitness(std::uint32_t pid) {
    std::ifstream exe(ProcPath(pid, "exe"), std::ios::binary);
    char header[5] = {};
    if (!exe.read(header, sizeof header) || std::memcmp(header, "\x7f" "ELF", 4) != 0) return Bitness::Unknown;
    if (header[4] == 1) return Bitness::Bits32;
    if (header[4] == 2) return Bitness::Bits64;
    return Bitness::Unknown;
}

// The three ids after `key` ("Uid:", "Gid:") in a status file: real,
// effective, saved.
bool StatusIds(const std::string& status, const char* key, std::uint32_t (&ids)[3]) {
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key, 0) != 0) continue;
        std::istringstream fields(line.substr(std::strlen(key)));
        return static_cast<bool>(fields >> ids[0] >> ids[1] >> ids[2]);
    }
    return false;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool MayTrace() {
    const std::string status = ReadWhole("/proc/self/status");
    const std::size_t at = status.find("CapEff:");
    if (at == std::string::npos) return false;
    const unsigned long long capabilities = std::strtoull(status.c_str() + at + 7, nullptr, 16);
    return (capabilities >> kCapSysPtrace & 1) != 0;
}

int PtraceScope() {
    std::ifstream file("/proc/sys/kernel/yama/ptrace_scope");
    int scope = -1;
    if (!(file >> scope)) return -1;
    return scope;
}

// Opens the memory file as the target's open does; on refusal gathers what
// tells why. False when the process is gone.
bool CheckAccess(std::uint32_t pid, ProcessAccess& access) {
    const int fd = open(ProcPath(pid, "mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        access = ProcessAccess{true, "", ""};
        return true;
    }
    const int error = errno;
    if (error == ENOENT || error == ESRCH) return false;
    detail::PtraceFacts facts;
    facts.error = error;
    facts.readerUid = getuid();
    facts.readerGid = getgid();
    const std::string status = ReadWhole(ProcPath(pid, "status"));
    if (!StatusIds(status, "Uid:", facts.targetUids) || !StatusIds(status, "Gid:", facts.targetGids)) return false;
    // The files of a process that is not dumpable belong to root.
    struct stat memory;
    facts.targetDumpable = stat(ProcPath(pid, "mem").c_str(), &memory) != 0 || memory.st_uid != 0 ||
                           facts.targetUids[1] == 0;
    facts.ptraceScope = PtraceScope();
    facts.readerMayTrace = MayTrace();
    access = detail::ExplainPtraceDenial(facts);
    return true;
}

}  // namespace

bool DescribeProcess(std::uint32_t pid, ProcessInfo& info) {
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return false;
    struct stat directory;
    if (stat(("/proc/" + std::to_string(pid)).c_str(), &directory) != 0) return false;
    info.pid = pid;
    if (!CheckAccess(pid, info.access)) return false;
    info.name = ExecutableName(pid);
    info.bitness = ExecutableBitness(pid);
    return true;
}

bool ListProcesses(const std::function<void(const ProcessInfo&)>& visit) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return false;
    std::vector<std::uint32_t> pids;
    while (const dirent* entry = readdir(proc)) {
        char* end;
        const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (*end == '\0' && entry->d_name[0] >= '1' && entry->d_name[0] <= '9' && pid <= INT_MAX) {
            pids.push_back(static_cast<std::uint32_t>(pid));
        }
    }
    closedir(proc);
    std::sort(pids.begin(), pids.end());
    for (std::uint32_t pid : pids) {
        ProcessInfo info;
        if (DescribeProcess(pid, info)) visit(info);  // one that has ended meanwhile is left out
    }
    return true;
}

// A 64-bit reader reads 32-bit processes too, so the launcher always starts
// the x64 companion on Linux.
const char* LauncherCompanionArchitecture(Bitness) { return "x64"; }
