#pragma once
// The few messages from the service that leave a trace: error responses and
// the join, spectate and join-request events, recorded in the client's event
// records (client_state.h). Everything else is ignored without notice.

#include "rpc/message_document.h"

namespace detail {

// Records what one incoming message carries, if anything. Runs on the I/O
// thread; the message and its text must stay valid until it returns.
void dispatch_message(const MessageDocument& message);

}  // namespace detail
