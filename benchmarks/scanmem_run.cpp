#include "scanmem_run.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "support/child_process.h"

std::string OnSearchPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        const std::string candidate = directory + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

bool TimeScanmem(const std::string& scanmem, std::uint32_t pid, const std::string& commands,
                 std::chrono::duration<double>& time) {
    const auto before = std::chrono::steady_clock::now();
    ChildProcess run;
    if (!run.Start(scanmem, {"-p", std::to_string(pid), "-c", commands})) return false;
    std::string line;
    while (run.ReadLine(line)) {
    }
    int exitCode = -1;
    if (!run.Wait(120000, exitCode)) return false;
    time += std::chrono::steady_clock::now() - before;
    return exitCode == 0;
}
