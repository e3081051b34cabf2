#pragma once
// The transport's operations over bytes a fuzz target hands it, in place of
// a pipe: the target serves the "service's" bytes in pieces of its choosing,
// decides what becomes of the client's writes, and reads back what the
// client wrote. Reads keep the transport's rules: a block is read whole or
// not at all, and a peer that has gone makes the pipe broken once what it
// sent has been read.

#include <string>

namespace scripted_transport {

// What becomes of the client's writes after its first (the handshake).
enum class WriteOutcome {
    Taken,     // the service takes the bytes
    Failed,    // the write fails; the transport stays open
    TimedOut,  // the deadline passes; the transport closes itself
};

struct Peer {
    std::string unread;    // bytes served that the client has not read yet
    bool hungUp = false;   // no more bytes will come
    WriteOutcome laterWrites = WriteOutcome::Taken;
    int writes = 0;        // write calls so far
    std::string written;   // every byte the client wrote, in order
};

// The one peer of the process' one transport.
Peer& ThePeer();

// A fresh peer with nothing served or written.
void Reset();

}  // namespace scripted_transport
