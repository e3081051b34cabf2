#include "support/child_process.h"

#include <chrono>

ChildProcess::~ChildProcess() {
    CloseInput();
    int exitCode;
    if (running_ && !Wait(10000, exitCode)) Kill();
    CloseHandles();
}

bool ChildProcess::ReadLine(std::string& line) {
    for (;;) {
        if (TakeLine(line)) return true;
        char buffer[4096];
        const std::size_t got = ReadSome(buffer, sizeof buffer);
        if (got == 0) return false;
        pending_.append(buffer, got);
    }
}

bool ChildProcess::ReadLine(std::string& line, std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (TakeLine(line)) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !OutputWaiting(static_cast<std::uint32_t>(left.count()))) return false;
        char buffer[4096];
        const std::size_t got = ReadSome(buffer, sizeof buffer);
        if (got == 0) return false;
        pending_.append(buffer, got);
    }
}

bool ChildProcess::TakeLine(std::string& line) {
    const std::size_t end = pending_.find('\n');
    if (end == std::string::npos) return false;
    line = pending_.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pending_.erase(0, end + 1);
    return true;
}
