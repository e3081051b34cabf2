// The client's public operations. They only build messages, leave them where
// the I/O thread picks them up, and wake that thread.

#include "rpc/presence_client.h"

#include "rpc/event_dispatch.h"
#include "rpc/io_worker.h"
#include "rpc/ipc_connection.h"
#include "rpc/launch_registration.h"
#include "rpc/outgoing_messages.h"
#include "rpc/pipe_transport.h"
#include "rpc/serialization.h"

namespace {

int processId = 0;  // 0 until rpc_initialize

void deliver_join_requests(const EventHandlers& handlers) {
    auto& queue = eventRecords.joinRequestQueue;
    while (queue.HasPending()) {
        const JoinRequestEntry* entry = queue.Take();
        if (handlers.joinRequestHandler != nullptr) {
            JoinRequestUser user{entry->id, entry->username, entry->discriminator, entry->avatar};
            handlers.joinRequestHandler(&user);
        }
        queue.Release();
    }
}

}  // namespace

void rpc_initialize(const char* applicationId, const EventHandlers* handlerTable, int registerLaunch,
                    const char* steamGameId) {
    if (registerLaunch != 0) {
        if (steamGameId != nullptr && steamGameId[0] != '\0') {
            RegisterSteamLaunch(applicationId, steamGameId);
        } else {
            RegisterLaunchProtocol(applicationId, nullptr);
        }
    }
    processId = CurrentProcessId();
    installedHandlers.Install(handlerTable);
    if (clientConnection != nullptr) return;  // a second initialise repeats only the steps above

    clientConnection = IpcConnection::Create(applicationId);
    clientConnection->onConnected = handle_connected;
    clientConnection->onDisconnected = handle_disconnected;
    ioWorker.Start();
}

void rpc_update_presence(const RichPresence* presence) {
    store_presence(processId, presence);
    ioWorker.Wake();
}

void rpc_clear_presence() { rpc_update_presence(nullptr); }

void rpc_shutdown() {
    if (clientConnection == nullptr) return;
    installedHandlers.Install(nullptr);
    ioWorker.Stop();
    // The callbacks are cleared only once the I/O thread, which calls them,
    // has ended; without them the teardown below records no disconnect.
    clientConnection->onConnected = nullptr;
    clientConnection->onDisconnected = nullptr;
    IpcConnection::Destroy(clientConnection);
}

void rpc_run_callbacks() {
    if (clientConnection == nullptr) return;
    EventHandlers handlers = installedHandlers.Snapshot();

    EventText disconnect;
    bool wasDisconnected = take_event(eventRecords.disconnectedPending, &eventRecords.disconnectEventCode,
                                      eventRecords.disconnectEventText, disconnect);
    bool isConnected = clientConnection->IsConnected();
    // A loss already followed by a new connection is reported before the new
    // ready event; a loss that still stands is reported last.
    if (isConnected && wasDisconnected && handlers.disconnectedHandler != nullptr) {
        handlers.disconnectedHandler(disconnect.code, disconnect.text);
    }
    if (eventRecords.connectedPending.exchange(false) && handlers.readyHandler != nullptr) {
        handlers.readyHandler();
    }
    EventText event;
    if (take_event(eventRecords.errorPending, &eventRecords.errorEventCode, eventRecords.errorEventText, event) &&
        handlers.errorHandler != nullptr) {
        handlers.errorHandler(event.code, event.text);
    }
    if (take_event(eventRecords.joinPending, nullptr, eventRecords.joinEventSecret, event) &&
        handlers.joinHandler != nullptr) {
        handlers.joinHandler(event.text);
    }
    if (take_event(eventRecords.spectatePending, nullptr, eventRecords.spectateEventSecret, event) &&
        handlers.spectateHandler != nullptr) {
        handlers.spectateHandler(event.text);
    }
    deliver_join_requests(handlers);
    if (!isConnected && wasDisconnected && handlers.disconnectedHandler != nullptr) {
        handlers.disconnectedHandler(disconnect.code, disconnect.text);
    }
}

void rpc_respond(const char* requesterId, int answer) {
    if (requesterId == nullptr || clientConnection == nullptr || !clientConnection->IsConnected() ||
        outgoingQueue.PendingCount() >= MessageRing<OutgoingEntry>::kCapacity) {
        return;
    }
    bool queued = queue_request([requesterId, answer](char* bytes, std::size_t capacity, std::int32_t nonce) {
        return build_join_reply(bytes, capacity, requesterId, answer, nonce);
    });
    if (queued) ioWorker.Wake();
}
