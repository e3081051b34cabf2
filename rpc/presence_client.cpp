// The client's public operations. They only build messages, leave them where
// the I/O thread picks them up, and wake that thread; rpc_run_callbacks
// delivers what the I/O thread recorded.

#include "rpc/presence_client.h"

#include "rpc/client_state.h"
#include "rpc/connection_callbacks.h"
#include "rpc/io_worker.h"
#include "rpc/ipc_connection.h"
#include "rpc/launch_registration.h"
#include "rpc/outgoing_queue.h"
#include "rpc/pipe_transport.h"
#include "rpc/presence_slot.h"

using namespace detail;

namespace {

int processId = 0;  // 0 until rpc_initialize

void DeliverDisconnect(const EventHandlers& handlers, const EventText& disconnect) {
    if (handlers.disconnectedHandler != nullptr) handlers.disconnectedHandler(disconnect.code, disconnect.text);
}

// Every waiting entry is released, also when no handler takes it.
void DeliverJoinRequests(const EventHandlers& handlers) {
    auto& queue = eventRecords.joinRequests;
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
    StartIoThread();
}

void rpc_update_presence(const RichPresence* presence) {
    StorePresence(processId, presence);
    WakeIoThread();
}

void rpc_clear_presence() { rpc_update_presence(nullptr); }

void rpc_shutdown() {
    if (clientConnection == nullptr) return;
    installedHandlers.Install(nullptr);
    StopIoThread();
    // The callbacks are cleared only once the I/O thread, which calls them,
    // has ended; without them the teardown below records no disconnect.
    clientConnection->onConnected = nullptr;
    clientConnection->onDisconnected = nullptr;
    IpcConnection::Destroy(clientConnection);
    // A presence stored and not yet sent still waits for the next
    // connection; one already sent belongs to this client's life only.
    ForgetSentPresence();
}

void rpc_run_callbacks() {
    if (clientConnection == nullptr) return;
    EventHandlers handlers = installedHandlers.Snapshot();

    EventText disconnect;
    bool wasDisconnected = eventRecords.disconnected.Take(disconnect);
    bool isConnected = clientConnection->IsConnected();
    // A loss already followed by a new connection is reported before the new
    // ready event; a loss that still stands is reported last.
    if (isConnected && wasDisconnected) DeliverDisconnect(handlers, disconnect);
    if (eventRecords.connectedPending.exchange(false) && handlers.readyHandler != nullptr) handlers.readyHandler();
    EventText event;
    if (eventRecords.error.Take(event) && handlers.errorHandler != nullptr) handlers.errorHandler(event.code, event.text);
    if (eventRecords.join.Take(event) && handlers.joinHandler != nullptr) handlers.joinHandler(event.text);
    if (eventRecords.spectate.Take(event) && handlers.spectateHandler != nullptr) handlers.spectateHandler(event.text);
    DeliverJoinRequests(handlers);
    if (!isConnected && wasDisconnected) DeliverDisconnect(handlers, disconnect);
}

void rpc_respond(const char* requesterId, int answer) {
    if (requesterId == nullptr || clientConnection == nullptr || !clientConnection->IsConnected() ||
        OutgoingQueueIsFull()) {
        return;
    }
    if (QueueJoinReply(requesterId, answer)) WakeIoThread();
}
