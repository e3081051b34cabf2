#pragma once
// One poll of the presence script: call its global `get_presence`, turn the
// table it returns into a RichPresence and hand that to a consumer.

#include <functional>
#include <string>

#include "rpc/rich_presence.h"

struct ScriptHost;

// Receives the record during the poll. The record's texts point into the Lua
// state and are valid only until the consumer returns.
using PresenceConsumer = std::function<void(const RichPresence&)>;

// True when `get_presence` returned a table and `consumer` has been called
// with the record built from it. False on any error or non-table result; the
// consumer is then not called, and `errorText`, when given, receives why: the
// error with a traceback naming the script's file and line, or the type that
// came back instead of a table. The state's stack is left as it was found.
bool PollPresence(ScriptHost& host, const PresenceConsumer& consumer, std::string* errorText = nullptr);
