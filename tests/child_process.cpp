#include "child_process.h"

ChildProcess::~ChildProcess() {
    CloseInput();
    int exitCode;
    if (running_ && !Wait(10000, exitCode)) Kill();
    CloseHandles();
}

bool ChildProcess::ReadLine(std::string& line) {
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pending_.erase(0, end + 1);
            return true;
        }
        char buffer[4096];
        const std::size_t got = ReadSome(buffer, sizeof buffer);
        if (got == 0) return false;
        pending_.append(buffer, got);
    }
}
