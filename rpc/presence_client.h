#pragma once
// The presence RPC client: publishes a rich presence to the chat application's
// local RPC service and records the few events it sends back. The client
// exists once per process; its operations take no handle. Nothing is sent on
// the caller's thread: operations leave their message for the I/O thread and
// wake it. This header is free of platform types.

#include "rpc/rich_presence.h"

struct JoinRequestUser {
    const char* id;             // at most 31 bytes
    const char* username;       // at most 343 bytes
    const char* discriminator;  // at most 7 bytes
    const char* avatar;         // at most 127 bytes
};

struct EventHandlers {
    void (*readyHandler)();
    void (*disconnectedHandler)(int errorCode, const char* message);
    void (*errorHandler)(int errorCode, const char* message);
    void (*joinHandler)(const char* joinSecret);
    void (*spectateHandler)(const char* spectateSecret);
    void (*joinRequestHandler)(const JoinRequestUser* request);
};

// Answers to a join request, for rpc_respond.
enum : int { RPC_REPLY_NO = 0, RPC_REPLY_YES = 1, RPC_REPLY_IGNORE = 2 };

void rpc_initialize(const char* applicationId, const EventHandlers* handlerTable, int registerLaunch,
                    const char* steamGameId);
void rpc_update_presence(const RichPresence* presence);
void rpc_clear_presence();
void rpc_shutdown();
void rpc_run_callbacks();
void rpc_respond(const char* requesterId, int answer);
