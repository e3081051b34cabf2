#include "support/service_log.h"

#include <chrono>

bool ServiceLog::Start(const std::vector<std::string>& options) {
    if (!process_.Start(RPC_SERVICE_PATH, options)) return false;
    return !WaitForText("listening ").empty();
}

std::string ServiceLog::WaitFor(const std::function<bool(const std::string&)>& wanted, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !process_.ReadLine(line, static_cast<std::uint32_t>(left.count()))) return "";
        lines_.push_back(line);
        if (wanted(line)) return line;
    }
}

std::string ServiceLog::WaitForText(const std::string& text, int timeoutMs) {
    return WaitFor([&](const std::string& line) { return line.find(text) != std::string::npos; }, timeoutMs);
}

std::vector<std::string> ServiceLog::StopAndCollect() {
    process_.Kill();
    std::vector<std::string> rest;
    std::string line;
    while (process_.ReadLine(line)) {
        lines_.push_back(line);
        rest.push_back(line);
    }
    return rest;
}

std::vector<std::string> ServiceLog::LinesWith(const std::string& text) const {
    std::vector<std::string> found;
    for (const std::string& line : lines_) {
        if (line.find(text) != std::string::npos) found.push_back(line);
    }
    return found;
}

std::string PresenceFrame(int nonce, int pid, const char* state) {
    std::string activity = state != nullptr ? std::string(",\"activity\":{\"state\":\"") + state + "\",\"instance\":false}" : "";
    return "frame 1 {\"nonce\":\"" + std::to_string(nonce) + "\",\"cmd\":\"SET_ACTIVITY\",\"args\":{\"pid\":" +
           std::to_string(pid) + activity + "}}";
}
