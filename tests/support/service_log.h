#pragma once
// The reference service run as a child process for the client's end-to-end
// and companion tests, and the lines it prints: every frame it receives or sends, and its
// clients coming and going.

#include <functional>
#include <string>
#include <vector>

#include "support/child_process.h"

// Long enough for a reconnection after the longest early backoff gaps; a
// wait ends as soon as what it waits for has come.
constexpr int kServiceWaitMs = 30000;

class ServiceLog {
public:
    // Starts the service and waits until it listens.
    bool Start(const std::vector<std::string>& options);
    void Kill() { process_.Kill(); }
    ~ServiceLog() { Kill(); }

    // Reads lines until one satisfies `wanted`; returns it, or "" when none
    // came in time. Every line read is kept in Lines().
    std::string WaitFor(const std::function<bool(const std::string&)>& wanted, int timeoutMs = kServiceWaitMs);
    // Waits for a line that holds `text`.
    std::string WaitForText(const std::string& text, int timeoutMs = kServiceWaitMs);

    // Stops the service and returns the lines it printed that were not read yet.
    std::vector<std::string> StopAndCollect();

    const std::vector<std::string>& Lines() const { return lines_; }
    // The lines read so far that hold `text`.
    std::vector<std::string> LinesWith(const std::string& text) const;

private:
    ChildProcess process_;
    std::vector<std::string> lines_;
};

// What the service prints for a "SET_ACTIVITY" request whose only presence
// field is `state` (null: a cleared presence).
std::string PresenceFrame(int nonce, int pid, const char* state);
