#pragma once
// Holds the client's I/O thread inside a write, through the peer alone: while
// the service reads nothing (its --stall-after option), a stream of large
// presences fills the pipe until a write cannot finish. Each presence is
// about 16 KiB, and together they are several times what a socket or a named
// pipe of the reference service buffers.

// The updates made; each takes one nonce.
constexpr int kFillUpdates = 64;

// Makes the kFillUpdates updates, a little apart so that the I/O thread
// writes most of them. The client must be connected to a stalled service.
void FillThePipe();
