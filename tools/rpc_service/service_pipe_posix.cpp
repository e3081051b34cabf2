// The service's end as a Unix stream socket "corvane-ipc-N" in the runtime
// directory: $XDG_RUNTIME_DIR, else $TMPDIR, $TMP, $TEMP, /tmp.

#include "tools/rpc_service/service_pipe.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kNone = -1;

std::string RuntimeDirectory() {
    for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR", "TMP", "TEMP"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') return value;
    }
    return "/tmp";
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

const sockaddr* AsSockaddr(const sockaddr_un& address) { return reinterpret_cast<const sockaddr*>(&address); }

// A service holds its name by a lock on "<socket>.lock" for as long as it
// runs; the system drops the lock when the process ends, so a socket file
// without a holder is a leftover and is replaced. The lock file stays:
// removing it could let two services each lock a file of their own.
int ClaimName(const std::string& path) {
    int fd = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd == kNone) return kNone;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return kNone;
    }
    return fd;
}

// Backlog 0 lets one further client wait in the queue; later ones find the
// name busy until the service takes the next client.
bool BindAndListen(int fd, const sockaddr_un& address) {
    unlink(address.sun_path);
    return bind(fd, AsSockaddr(address), sizeof address) == 0 && listen(fd, 0) == 0;
}

// Waits for `events` on `fd` until the deadline; a negative timeout waits without limit.
bool WaitFor(int fd, short events, int timeoutMs, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        int remaining = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            remaining = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd entry{fd, events, 0};
        int ready = poll(&entry, 1, remaining);
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

std::chrono::steady_clock::time_point DeadlineIn(int timeoutMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
}

}  // namespace

bool ServicePipe::Listen(int digit, std::string& error) {
    Stop();
    const std::string directory = RuntimeDirectory();
    int first = digit < 0 ? 0 : digit;
    int last = digit < 0 ? 9 : digit;
    for (int d = first; d <= last; ++d) {
        std::string path = directory + "/corvane-ipc-" + static_cast<char>('0' + d);
        sockaddr_un address;
        if (!MakeAddress(path, address)) {
            error = "socket path too long: " + path;
            return false;
        }
        int claim = ClaimName(path);
        if (claim == kNone) continue;
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd == kNone || !BindAndListen(fd, address)) {
            error = "cannot listen on " + path + ": " + std::strerror(errno);
            if (fd != kNone) close(fd);
            close(claim);
            return false;
        }
        listener_ = fd;
        claim_ = claim;
        name_ = path;
        return true;
    }
    error = digit < 0 ? "every name from corvane-ipc-0 to corvane-ipc-9 in " + directory + " is held by another service"
                      : directory + "/corvane-ipc-" + static_cast<char>('0' + digit) + " is held by another service";
    return false;
}

bool ServicePipe::Accept(int timeoutMs) {
    Disconnect();
    if (listener_ == kNone) return false;
    if (!WaitFor(static_cast<int>(listener_), POLLIN, timeoutMs, DeadlineIn(timeoutMs))) return false;
    int fd = accept4(static_cast<int>(listener_), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd == kNone) return false;
    client_ = fd;
    return true;
}

bool ServicePipe::HasClient() const { return client_ != kNone; }

PipeRead ServicePipe::ReadExact(void* destination, std::size_t count, int timeoutMs) {
    if (client_ == kNone) return PipeRead::Gone;
    int fd = static_cast<int>(client_);
    auto deadline = DeadlineIn(timeoutMs);
    char* bytes = static_cast<char*>(destination);
    while (count > 0) {
        if (!WaitFor(fd, POLLIN, timeoutMs, deadline)) return PipeRead::TimedOut;
        ssize_t received = recv(fd, bytes, count, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) return PipeRead::Gone;
        bytes += received;
        count -= static_cast<std::size_t>(received);
    }
    return PipeRead::Done;
}

bool ServicePipe::WriteAll(const void* source, std::size_t count) {
    if (client_ == kNone) return false;
    const char* bytes = static_cast<const char*>(source);
    while (count > 0) {
        ssize_t sent = send(static_cast<int>(client_), bytes, count, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes += sent;
        count -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Bytes already sent stay queued for the client after the close.
void ServicePipe::Disconnect() {
    if (client_ != kNone) close(static_cast<int>(client_));
    client_ = kNone;
}

void ServicePipe::Stop() {
    Disconnect();
    if (listener_ != kNone) {
        close(static_cast<int>(listener_));
        unlink(name_.c_str());
    }
    if (claim_ != kNone) close(static_cast<int>(claim_));  // after the unlink, so no other service loses its socket
    listener_ = kNone;
    claim_ = kNone;
    name_.clear();
}
