#include "rpc/io_worker.h"

#include <cstdlib>
#include <ctime>

#include "rpc/event_dispatch.h"
#include "rpc/ipc_connection.h"
#include "rpc/message_document.h"
#include "rpc/outgoing_messages.h"
#include "rpc/serialization.h"

IpcConnection* clientConnection = nullptr;
InstalledHandlers installedHandlers;
ReconnectBackoff reconnectBackoff(static_cast<std::uint64_t>(std::time(nullptr)));
// The first connection attempt is due at once.
MonotonicClock::time_point nextConnectTime = MonotonicClock::now();
IoWorker ioWorker;

namespace {

constexpr std::chrono::milliseconds kWaitInterval{500};

void io_thread_loop() {
    while (ioWorker.runFlag.load()) {
        io_turn();
        if (!ioWorker.runFlag.load()) break;
        std::unique_lock<std::mutex> lock(ioWorker.wakeMutex);
        ioWorker.wakeCondition.wait_for(lock, kWaitInterval);
    }
}

void send_presence(IpcConnection& connection) {
    char copy[kRequestCapacity];
    std::size_t length = take_presence(copy);
    if (length == 0) return;
    if (connection.Write(copy, length)) {
        remember_sent_presence(copy, length);
    } else {
        restore_presence(copy, length);
    }
}

// A request that cannot be written is dropped.
void send_queued_requests(IpcConnection& connection) {
    while (outgoingQueue.HasPending()) {
        const OutgoingEntry* entry = outgoingQueue.Take();
        connection.Write(entry->bytes, entry->length);
        outgoingQueue.Release();
    }
}

void stop_io_worker_at_exit() { ioWorker.Stop(); }

}  // namespace

void IoWorker::Start() {
    // Functions registered with atexit after the static state was constructed
    // run before any of it is destroyed, whatever file it is defined in.
    static const bool stopRegistered = std::atexit(stop_io_worker_at_exit) == 0;
    (void)stopRegistered;
    if (thread.joinable()) return;
    runFlag.store(true);
    thread = std::thread(io_thread_loop);
}

void IoWorker::Stop() {
    runFlag.store(false);
    Wake();
    if (!thread.joinable()) return;
    // A thread cannot join itself (exit called on the I/O thread): let it go.
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
    } else {
        thread.join();
    }
}

void InstalledHandlers::Install(const EventHandlers* table) {
    std::lock_guard<std::mutex> guard(lock_);
    handlers_ = table != nullptr ? *table : EventHandlers{};
}

EventHandlers InstalledHandlers::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return handlers_;
}

void io_turn() {
    IpcConnection* connection = clientConnection;
    if (connection == nullptr) return;

    if (!connection->IsConnected()) {
        if (MonotonicClock::now() < nextConnectTime) return;
        schedule_reconnect();
        connection->Open();  // opens and sends the handshake, or reads READY
        return;
    }

    // Read before writing, so responses and events are drained first. Each
    // message's text lives in the connection's receive frame until the next
    // Read. A service that never stops sending does not keep Stop waiting.
    while (ioWorker.runFlag.load()) {
        MessageDocument message;
        if (!connection->Read(message)) break;  // nothing complete waiting, or the connection was lost
        dispatch_message(message);
    }
    send_presence(*connection);
    send_queued_requests(*connection);
}

void schedule_reconnect() {
    std::int64_t delayMs = reconnectBackoff.advance_delay();
    nextConnectTime = MonotonicClock::now() + std::chrono::milliseconds(delayMs);
}

void handle_connected() {
    record_connected();
    reconnectBackoff.reset_delay();
    resend_last_presence();
    EventHandlers handlers = installedHandlers.Snapshot();
    if (handlers.joinHandler != nullptr) subscribe_event("ACTIVITY_JOIN");
    if (handlers.spectateHandler != nullptr) subscribe_event("ACTIVITY_SPECTATE");
    if (handlers.joinRequestHandler != nullptr) subscribe_event("ACTIVITY_JOIN_REQUEST");
}

void handle_disconnected(int code, const char* message) {
    record_disconnected(code, message);
    schedule_reconnect();
}

bool subscribe_event(const char* eventName) {
    bool queued = queue_request([eventName](char* bytes, std::size_t capacity, std::int32_t nonce) {
        return build_subscribe(bytes, capacity, nonce, eventName);
    });
    if (queued) ioWorker.Wake();
    return queued;
}
