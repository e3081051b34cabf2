// The transport over a Unix stream socket "corvane-ipc-N" in the runtime
// directory ($XDG_RUNTIME_DIR, else $TMPDIR, $TMP, $TEMP, /tmp). That may be
// a directory every user can create sockets in, so a socket is taken only
// when the process listening on it runs as this user, and a name another
// user holds does not end the search.

#include "rpc/pipe_transport.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kInvalidSocket = -1;

const char* SocketDirectory() {
    for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR", "TMP", "TEMP"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') return value;
    }
    return "/tmp";
}

// False when the path does not fit the socket address.
bool SocketAddress(sockaddr_un& address, char digit) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    int length = std::snprintf(address.sun_path, sizeof address.sun_path, "%s/corvane-ipc-%c", SocketDirectory(),
                               digit);
    return length > 0 && static_cast<std::size_t>(length) < sizeof address.sun_path;
}

// The user the listening process ran as when it began to listen.
bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && length == sizeof peer &&
           peer.uid == geteuid();
}

// A connect error that says the name is not our service's: nobody listens
// there, or what is there is a socket this user may not use or no stream
// socket at all. Another user may have taken the name in a shared
// directory, so the search goes on to the next name.
bool IsNotOurs(int error) {
    switch (error) {
    case ENOENT:
    case ECONNREFUSED:
    case EACCES:
    case EPERM:
    case ENOTSOCK:
    case EPROTOTYPE:
        return true;
    default:
        return false;
    }
}

enum class ConnectResult { Connected, NextName, Failed };

// The socket does not block: a service whose queue of waiting clients is
// full answers EAGAIN, and is tried again in slices until the wait for the
// name is over; then the next name is tried.
ConnectResult ConnectTo(int fd, const sockaddr_un& address, detail::OpenClock& clock) {
    clock.StartName();
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            // Another user's socket is passed over like a name nobody listens on.
            return PeerIsThisUser(fd) ? ConnectResult::Connected : ConnectResult::NextName;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) {
            unsigned slice = clock.NextSliceMs();
            if (slice == 0) return ConnectResult::NextName;
            poll(nullptr, 0, static_cast<int>(slice));
            continue;
        }
        return IsNotOurs(errno) ? ConnectResult::NextName : ConnectResult::Failed;
    }
}

// The peer has shut its sending side, so bytes still missing can never come.
bool PeerHasHungUp(int fd) {
    pollfd entry{fd, POLLIN | POLLRDHUP, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// Waits until the socket can take more bytes, or the deadline passes.
bool WaitUntilWritable(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{fd, POLLOUT, 0};
        int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) return true;  // writable, or an error the next send reports
        if (ready < 0 && errno != EINTR) return false;
    }
}

}  // namespace

bool PipeTransport::Open(const std::atomic<bool>* running) {
    detail::OpenClock clock(running);
    for (char digit = '0'; digit <= '9' && !clock.Over(); ++digit) {
        sockaddr_un address;
        if (!SocketAddress(address, digit)) return false;
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd == kInvalidSocket) return false;
        ConnectResult result = ConnectTo(fd, address, clock);
        if (result == ConnectResult::Connected) {
            handle = fd;
            pipeOpen = true;
            return true;
        }
        close(fd);
        if (result == ConnectResult::Failed) return false;
    }
    return false;
}

bool PipeTransport::Close() {
    if (handle != kInvalidSocket) close(static_cast<int>(handle));
    handle = kInvalidSocket;
    pipeOpen = false;
    return true;
}

bool PipeTransport::Read(void* destination, std::size_t count) {
    if (destination == nullptr || handle == kInvalidSocket) return false;
    int fd = static_cast<int>(handle);
    int available = 0;
    if (ioctl(fd, FIONREAD, &available) != 0) {
        Close();
        return false;
    }
    if (static_cast<std::size_t>(available) < count) {
        // Not yet, unless the peer has hung up: then the rest can never come.
        if (PeerHasHungUp(fd)) Close();
        return false;
    }
    ssize_t received = recv(fd, destination, count, MSG_DONTWAIT);
    if (received < 0 || static_cast<std::size_t>(received) != count) {
        Close();
        return false;
    }
    return true;
}

std::size_t PipeTransport::ReadAvailable(void* destination, std::size_t most) {
    if (destination == nullptr || handle == kInvalidSocket || most == 0) return 0;
    ssize_t received;
    do {
        received = recv(static_cast<int>(handle), destination, most, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received > 0) return static_cast<std::size_t>(received);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    Close();  // the peer has gone (0), or the socket has failed
    return 0;
}

bool PipeTransport::Write(const void* source, std::size_t count) {
    if (count == 0) return true;
    if (handle == kInvalidSocket || source == nullptr) return false;
    const int fd = static_cast<int>(handle);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteDeadlineMs);
    const char* bytes = static_cast<const char*>(source);
    while (count > 0) {
        ssize_t sent = send(fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes += sent;
            count -= static_cast<std::size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitUntilWritable(fd, deadline)) {
                Close();
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

int CurrentProcessId() { return static_cast<int>(getpid()); }
