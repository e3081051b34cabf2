#pragma once
// A child program for tests, started with its standard input and output
// connected to the test by pipes. Closing its input is how a test asks a
// well-behaved child (such as target_child) to finish.

#include <cstdint>
#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Closes the child's input and waits for it; kills it if it does not end.
    ~ChildProcess();

    bool Start(const std::string& program, const std::vector<std::string>& arguments);
    std::uint32_t Pid() const { return pid_; }

    // One line of the child's output without its line end; false at the end
    // of the output.
    bool ReadLine(std::string& line);
    // The same, but false also when no whole line has come within `timeoutMs`.
    bool ReadLine(std::string& line, std::uint32_t timeoutMs);

    // Writes `line` and a line end to the child's input.
    bool WriteLine(const std::string& line);

    void CloseInput();

    // True with the exit code when the child ended within the time-out.
    bool Wait(std::uint32_t timeoutMs, int& exitCode);

    void Kill();

private:
    static constexpr std::uintptr_t kNone = ~std::uintptr_t{0};

    // Up to `size` bytes of the child's output; 0 at its end.
    std::size_t ReadSome(char* buffer, std::size_t size);
    // True when output (or its end) is there to read within `timeoutMs`.
    bool OutputWaiting(std::uint32_t timeoutMs);
    // Moves a whole line from `pending_` into `line`, if there is one.
    bool TakeLine(std::string& line);
    void CloseHandles();

    std::uint32_t pid_ = 0;
    bool running_ = false;
    std::uintptr_t process_ = kNone;  // the process handle on Windows
    std::uintptr_t input_ = kNone;    // our end of the child's standard input
    std::uintptr_t output_ = kNone;   // our end of the child's standard output
    std::string pending_;             // output read but not yet returned as a line
};

// The path of the program `name` in the directory of the running program,
// with the platform's executable suffix.
std::string ProgramBesideThisOne(const std::string& name);

// `relative` appended to the directory of the running program.
std::string PathBesideThisProgram(const std::string& relative);
