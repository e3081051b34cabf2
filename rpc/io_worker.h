#pragma once
// The client's I/O thread: all pipe work happens here. The thread repeats one
// turn of work (connect when due, else read and dispatch, then send) and a
// wait of at most 500 ms that producers cut short by notifying it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "rpc/presence_client.h"
#include "rpc/reconnect_backoff.h"

struct IpcConnection;

struct IoWorker {
    std::atomic<bool> runFlag{true};
    std::mutex wakeMutex;  // held only by the I/O thread, around its wait
    std::condition_variable wakeCondition;
    std::thread thread;  // empty while no thread runs

    IoWorker() = default;
    IoWorker(const IoWorker&) = delete;
    IoWorker& operator=(const IoWorker&) = delete;
    ~IoWorker() { Stop(); }

    // The first start also arranges for a thread that rpc_shutdown did not
    // stop to be stopped and joined at exit, before any of the static state
    // that it uses is destroyed.
    void Start();
    // Joins the thread; on the I/O thread itself (exit called there), which
    // cannot join itself, it lets the thread go instead.
    void Stop();
    // Notifies without taking wakeMutex; a wake during a turn is not remembered.
    void Wake() { wakeCondition.notify_all(); }
};

// The handler table of the last rpc_initialize, written on the host's thread
// and read by the I/O thread when a connection becomes ready.
class InstalledHandlers {
public:
    void Install(const EventHandlers* table);  // null installs six empty slots
    EventHandlers Snapshot() const;

private:
    mutable std::mutex lock_;
    EventHandlers handlers_ = {};
};

using MonotonicClock = std::chrono::steady_clock;

// The client's state, shared by the public operations and the I/O thread.
// The connection pointer is null exactly while the client is not initialised;
// it changes only while no I/O thread runs.
extern IpcConnection* clientConnection;
extern InstalledHandlers installedHandlers;
extern ReconnectBackoff reconnectBackoff;
extern MonotonicClock::time_point nextConnectTime;
extern IoWorker ioWorker;

void io_turn();
void schedule_reconnect();
void handle_connected();
void handle_disconnected(int code, const char* message);
// True when the "SUBSCRIBE" request for `eventName` was queued.
bool subscribe_event(const char* eventName);
