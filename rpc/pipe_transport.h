#pragma once
// The byte-stream connection to the local RPC service: a named pipe on
// Windows, a Unix stream socket elsewhere. One process-wide instance.
// Reads never wait for data; a write waits for the service to take its bytes,
// but never longer than kWriteDeadlineMs, so that a service that stops
// reading cannot hold the client's I/O thread.

#include <cstddef>
#include <cstdint>

constexpr unsigned kWriteDeadlineMs = 3000;

struct PipeTransport {
    bool pipeOpen = false;
    std::intptr_t handle = -1;  // the pipe HANDLE, or the socket; invalid while closed

    static PipeTransport* Create();
    static void Destroy(PipeTransport*& transport);

    // Connects to the first name a service of this user listens on.
    bool Open();
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
