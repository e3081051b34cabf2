#include "support/child_process.h"

#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    if (pid < 0) {
        close(pipeEnds[0]);
        return false;
    }
    process_ = pid;
    output_ = pipeEnds[0];
    return true;
}

bool ChildProcess::ReadMore(int timeoutMs) {
    if (output_ < 0) return false;
    pollfd entry{static_cast<int>(output_), POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) return true;  // nothing yet
    char buffer[4096];
    ssize_t count = read(static_cast<int>(output_), buffer, sizeof buffer);
    if (count <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(count));
    return true;
}

int ChildProcess::Wait(int timeoutMs) {
    if (process_ < 0) return exitCode_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (waitpid(static_cast<pid_t>(process_), &status, WNOHANG) == static_cast<pid_t>(process_)) {
            process_ = -1;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exitCode_;
        }
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::Kill() {
    if (process_ >= 0) {
        kill(static_cast<pid_t>(process_), SIGKILL);
        waitpid(static_cast<pid_t>(process_), nullptr, 0);
        process_ = -1;
    }
    if (output_ >= 0) close(static_cast<int>(output_));
    output_ = -1;
}
