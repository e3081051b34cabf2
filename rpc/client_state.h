#pragma once
// The state that the client's public operations and its I/O thread share.
// Everything else lives in the one file that uses it: the presence slot in
// presence_slot.cpp, the outgoing queue in outgoing_queue.cpp, the backoff
// in connection_callbacks.cpp, the thread in io_worker.cpp.

#include <mutex>

#include "rpc/event_records.h"
#include "rpc/presence_client.h"

struct IpcConnection;

namespace detail {

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

// Null exactly while the client is not initialised; it changes only while no
// I/O thread runs.
extern IpcConnection* clientConnection;
extern InstalledHandlers installedHandlers;
// Written by the I/O thread, delivered by rpc_run_callbacks.
extern EventRecords eventRecords;

}  // namespace detail
