#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "support/child_process.h"

extern char** environ;

namespace {

void CloseIfOpen(std::uintptr_t& fd, std::uintptr_t none) {
    if (fd != none) close(static_cast<int>(fd));
    fd = none;
}

}  // namespace

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return false;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    if (error != 0) {
        close(input[1]);
        close(output[0]);
        return false;
    }
    pid_ = static_cast<std::uint32_t>(pid);
    running_ = true;
    input_ = static_cast<std::uintptr_t>(input[1]);
    output_ = static_cast<std::uintptr_t>(output[0]);
    return true;
}

std::size_t ChildProcess::ReadSome(char* buffer, std::size_t size) {
    if (output_ == kNone) return 0;
    for (;;) {
        const ssize_t got = read(static_cast<int>(output_), buffer, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return 0;
    }
}

bool ChildProcess::OutputWaiting(std::uint32_t timeoutMs) {
    if (output_ == kNone) return true;  // ReadSome reports the end
    pollfd entry{static_cast<int>(output_), POLLIN, 0};
    int ready;
    do {
        ready = poll(&entry, 1, static_cast<int>(timeoutMs > INT_MAX ? INT_MAX : timeoutMs));
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
}

bool ChildProcess::WriteLine(const std::string& line) {
    if (input_ == kNone) return false;
    const std::string text = line + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t put = write(static_cast<int>(input_), text.data() + written, text.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        written += static_cast<std::size_t>(put);
    }
    return true;
}

void ChildProcess::CloseInput() {
    CloseIfOpen(input_, kNone);
}

bool ChildProcess::Wait(std::uint32_t timeoutMs, int& exitCode) {
    if (!running_) return false;
    for (std::uint32_t waited = 0;; waited += 5) {
        int status;
        const pid_t done = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
        if (done == static_cast<pid_t>(pid_)) {
            running_ = false;
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        }
        if (done < 0 || waited >= timeoutMs) return false;
        const timespec pause{0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

void ChildProcess::Kill() {
    if (!running_) return;
    kill(static_cast<pid_t>(pid_), SIGKILL);
    int status;
    waitpid(static_cast<pid_t>(pid_), &status, 0);
    running_ = false;
}

void ChildProcess::CloseHandles() {
    CloseIfOpen(input_, kNone);
    CloseIfOpen(output_, kNone);
}

std::string PathBesideThisProgram(const std::string& relative) {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return relative;
    std::string self(path, static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/') + 1) + relative;
}

std::string ProgramBesideThisOne(const std::string& name) {
    return PathBesideThisProgram(name);
}
