#pragma once
// The byte-stream connection to the local RPC service: a named pipe on
// Windows, a Unix stream socket elsewhere. One process-wide instance.
// Reads never wait for data; a write waits for the service to take its bytes,
// but never longer than kWriteDeadlineMs, so that a service that stops
// reading cannot hold the client's I/O thread.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

constexpr unsigned kWriteDeadlineMs = 3000;
// One Open, over all ten names, ends within this time.
constexpr unsigned kOpenDeadlineMs = 10000;
// A name whose service is busy with other clients is waited for this long,
// then the next name is tried.
constexpr unsigned kBusyNameWaitMs = 1000;

struct PipeTransport {
    bool pipeOpen = false;
    std::intptr_t handle = -1;  // the pipe HANDLE, or the socket; invalid while closed

    static PipeTransport* Create();
    static void Destroy(PipeTransport*& transport);

    // Connects to the first name a service of this user listens on. Names
    // that another user holds, or that stay busy, are passed over. Gives up
    // once `running` (when given) turns false.
    bool Open(const std::atomic<bool>* running = nullptr);
    bool Close();
    // All or nothing. False with pipeOpen still true: not enough bytes have
    // arrived yet. False with pipeOpen false: the connection has broken.
    bool Read(void* destination, std::size_t count);
    // Up to `most` of the bytes that have arrived. 0 with pipeOpen still
    // true: none yet. 0 with pipeOpen false: the connection has broken.
    std::size_t ReadAvailable(void* destination, std::size_t most);
    // All or nothing, within the deadline. False with pipeOpen still true:
    // the write failed. False with pipeOpen false: the deadline passed, and
    // the transport was closed, as part of the bytes may have gone out.
    bool Write(const void* source, std::size_t count);
};

int CurrentProcessId();

namespace detail {

// The time one Open may take: a deadline for the whole opening, a shorter
// one for the name being waited for, and whether the client still wants it.
class OpenClock {
public:
    explicit OpenClock(const std::atomic<bool>* running);
    // Starts the wait for a busy name.
    void StartName();
    // How long the next slice of waiting for the current name may be, in
    // milliseconds: 0 once that wait is over (its time or the opening's has
    // run out, or the client is stopping).
    unsigned NextSliceMs() const;
    // The opening must end now: its time has run out or the client is stopping.
    bool Over() const;

private:
    const std::atomic<bool>* running_;
    std::chrono::steady_clock::time_point openDeadline_;
    std::chrono::steady_clock::time_point nameDeadline_;
};

}  // namespace detail
