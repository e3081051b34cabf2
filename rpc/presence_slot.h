#pragma once
// Sending a presence, from start to end: the slot that holds only the latest
// "SET_ACTIVITY" request, its write on the I/O thread, and the request last
// written, which a new connection gets again (a restarted service knows
// nothing of it) until the client shuts down.

#include <cstdint>

#include "rpc/request_writer.h"
#include "rpc/rich_presence.h"

namespace detail {

// Builds the "SET_ACTIVITY" request for `presence` (null: clear) with the
// next nonce into the slot, replacing whatever it held. Host's thread.
void StorePresence(int processId, const RichPresence* presence);

// Writes the waiting request, if any, and empties the slot. A request that
// is written is remembered for the next connection; one whose write fails
// goes back into the slot, unless a newer presence was stored meanwhile.
// The slot is never locked while `write` runs. I/O thread.
void SendPresence(RequestWriter write);

// After READY: puts the request last written back into the slot, unless a
// newer presence already waits there.
void ResendLastPresence();

// At shutdown: a later connection, perhaps under another application id,
// must not be sent a presence from before.
void ForgetSentPresence();

}  // namespace detail
