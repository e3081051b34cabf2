#pragma once
// One client's session with the reference service, from its handshake to the
// end of its connection.

#include "tools/rpc_service/presence_board.h"
#include "tools/rpc_service/service_options.h"
#include "tools/rpc_service/service_pipe.h"

// Serves the client that `pipe` has just accepted, as `options` say, and
// returns when the connection has ended. With a `board`, the client's
// handshake, presence requests and end are shown on it.
void ServeClient(ServicePipe& pipe, const ServiceOptions& options, PresenceBoard* board = nullptr);
