// The I/O thread: its loop, its wait and one turn of work.

#include "rpc/io_worker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "rpc/client_state.h"
#include "rpc/connection_callbacks.h"
#include "rpc/event_dispatch.h"
#include "rpc/ipc_connection.h"
#include "rpc/message_document.h"
#include "rpc/outgoing_queue.h"
#include "rpc/presence_slot.h"

namespace detail {
namespace {

constexpr std::chrono::milliseconds kWaitInterval{500};

struct IoWorker {
    std::atomic<bool> runFlag{true};
    std::mutex wakeMutex;  // held only by the I/O thread, around its wait
    std::condition_variable wakeCondition;
    std::thread thread;  // empty while no thread runs

    IoWorker() = default;
    IoWorker(const IoWorker&) = delete;
    IoWorker& operator=(const IoWorker&) = delete;
    ~IoWorker() { StopIoThread(); }
};

IoWorker ioWorker;

bool WriteToConnection(const char* bytes, std::size_t length) { return clientConnection->Write(bytes, length); }

// One turn of work. True when the turn stopped reading with frames still
// waiting, so that the next turn follows at once.
bool io_turn() {
    IpcConnection* connection = clientConnection;
    if (connection == nullptr) return false;

    if (!connection->IsConnected()) {
        if (!ConnectAttemptIsDue()) return false;
        schedule_reconnect();
        connection->Open(&ioWorker.runFlag);  // opens and sends the handshake, or reads READY
        return false;
    }

    // Read before writing, so responses and events are drained first. Each
    // message's text lives in the connection's receive frame until the next
    // Read. The writes below fail at once when the connection was just lost:
    // the presence then waits for the next connection, the queue is dropped.
    // A service that never stops sending neither keeps a stop waiting nor
    // holds back the writes: a turn handles at most kFramesPerTurn frames.
    int framesLeft = kFramesPerTurn;
    while (ioWorker.runFlag.load()) {
        MessageDocument message;
        if (!connection->Read(message, framesLeft)) break;  // none complete, budget spent, or connection lost
        dispatch_message(message);
    }
    SendPresence(WriteToConnection);
    SendQueuedRequests(WriteToConnection);
    return framesLeft == 0 && connection->IsConnected();
}

void IoThreadLoop() {
    while (ioWorker.runFlag.load()) {
        if (io_turn()) continue;
        if (!ioWorker.runFlag.load()) break;
        std::unique_lock<std::mutex> lock(ioWorker.wakeMutex);
        ioWorker.wakeCondition.wait_for(lock, kWaitInterval);
    }
}

void StopIoThreadAtExit() { StopIoThread(); }

}  // namespace

void StartIoThread() {
    // Functions registered with atexit after the static state was constructed
    // run before any of it is destroyed, whatever file it is defined in.
    static const bool stopRegistered = std::atexit(StopIoThreadAtExit) == 0;
    (void)stopRegistered;
    if (ioWorker.thread.joinable()) return;
    ioWorker.runFlag.store(true);
    ioWorker.thread = std::thread(IoThreadLoop);
}

void StopIoThread() {
    ioWorker.runFlag.store(false);
    WakeIoThread();
    if (!ioWorker.thread.joinable()) return;
    // A thread cannot join itself (exit called on the I/O thread): let it go.
    if (ioWorker.thread.get_id() == std::this_thread::get_id()) {
        ioWorker.thread.detach();
    } else {
        ioWorker.thread.join();
    }
}

void WakeIoThread() { ioWorker.wakeCondition.notify_all(); }

}  // namespace detail
