#pragma once
// The client's one connection to the local RPC service: opens the pipe, does
// the handshake, reads and writes Message frames, answers pings and records
// why a connection ended. One process-wide instance in static storage.

#include <atomic>
#include <cstddef>

#include "rpc/ipc_frame.h"
#include "rpc/message_document.h"

struct PipeTransport;

// Frames of any kind handled in one turn of the I/O thread before it writes:
// a service that never stops sending cannot hold back what the client sends.
constexpr int kFramesPerTurn = 32;

enum class ConnectionState : int { Disconnected, HandshakeSent, Connected };

struct IpcConnection {
    PipeTransport* transport = nullptr;
    std::atomic<ConnectionState> state{ConnectionState::Disconnected};
    void (*onConnected)() = nullptr;
    void (*onDisconnected)(int errorCode, const char* message) = nullptr;
    char applicationId[64] = {};
    int errorCode = 0;
    char errorMessage[256] = {};
    IpcFrame outFrame;
    // The last frame read. A message's strings point into its payload, so it
    // stays untouched until the next Read.
    IpcFrame inFrame;
    // Bytes of the frame being received that have arrived, its header
    // included: 0 between frames. A frame may come in pieces over several
    // Reads; what has come waits here for the rest.
    std::size_t inFrameReceived = 0;

    static IpcConnection* Create(const char* applicationId);
    static void Destroy(IpcConnection*& connection);

    // One step of connecting: pipe + handshake, or read READY. The pipe's
    // opening gives up once `running` (when given) turns false.
    void Open(const std::atomic<bool>* running = nullptr);
    void Close();  // reports (if open) and closes
    bool Write(const void* payload, std::size_t length);
    // Reads up to the next Message frame, answering pings on the way. False
    // when none has come whole, the connection ended, or `framesLeft` (the
    // frames this turn may still handle, counted down here) ran out.
    bool Read(MessageDocument& message, int& framesLeft);
    // The same within a budget of its own, kFramesPerTurn.
    bool Read(MessageDocument& message);
    bool IsConnected() const { return state.load() == ConnectionState::Connected; }

private:
    // Writes the frame whole, or tears the connection down.
    bool WriteFrame(IpcFrame& frame);
};
