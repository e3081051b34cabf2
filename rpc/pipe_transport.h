#pragma once
// The byte-stream connection to the local RPC service: a named pipe on
// Windows, a Unix stream socket elsewhere. One process-wide instance.
// Read is all-or-nothing and never blocks; Write is all-or-nothing.

#include <cstddef>
#include <cstdint>

struct PipeTransport {
    bool pipeOpen = false;
    std::intptr_t handle = -1;  // the pipe HANDLE, or the socket; invalid while closed

    static PipeTransport* Create();
    static void Destroy(PipeTransport*& transport);

    bool Open();
    bool Close();
    // False with pipeOpen still true: not enough bytes have arrived yet.
    // False with pipeOpen false: the connection has broken.
    bool Read(void* destination, std::size_t count);
    bool Write(const void* source, std::size_t count);
};

int CurrentProcessId();
