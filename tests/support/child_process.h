#pragma once
// A program started by a test, with its standard output read line by line.
// Killed when the object goes, if it still runs.

#include <cstdint>
#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Kill(); }

    // Starts `program` with `arguments`; its standard error stays the test's.
    bool Start(const std::string& program, const std::vector<std::string>& arguments);
    // The next line of standard output, without its line end. False when
    // none has come within `timeoutMs` or the output has ended.
    bool ReadLine(std::string& line, int timeoutMs);
    // Waits up to `timeoutMs` for the program to end: its exit code, or -1.
    int Wait(int timeoutMs);
    void Kill();

private:
    // Reads what has arrived within `timeoutMs` into `pending_`; false at the end of the output.
    bool ReadMore(int timeoutMs);

    std::intptr_t process_ = -1;  // the pid, or the process HANDLE
    std::intptr_t output_ = -1;   // the read end of the output pipe
    std::string pending_;
    int exitCode_ = -1;
};
