#pragma once
// One poll of the presence script: call its global `get_presence`, turn the
// table it returns into a RichPresence and hand that to a consumer.

#include <functional>

#include "rpc/rich_presence.h"

struct ScriptHost;

// Receives the record during the poll. The record's texts point into the Lua
// state and are valid only until the consumer returns.
using PresenceConsumer = std::function<void(const RichPresence&)>;

// True when `get_presence` returned a table and `consumer` has been called
// with the record built from it. False on any error or non-table result; the
// consumer is then not called. The state's stack is left as it was found.
bool PollPresence(ScriptHost& host, const PresenceConsumer& consumer);
