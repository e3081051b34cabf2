#pragma once
// Builders of the JSON bodies the client sends. Each writes one compact JSON
// object into a caller-supplied buffer of fixed capacity and returns the
// number of bytes stored; bytes past the capacity are dropped, so the result
// never exceeds it. No terminating NUL is written.

#include <cstddef>
#include <cstdint>

#include "rpc/rich_presence.h"

// Takes the next request nonce (1 for the first request of the process).
std::int32_t take_nonce();

std::size_t build_handshake(char* destination, std::size_t capacity, int version, const char* applicationId);
std::size_t build_set_activity(char* destination, std::size_t capacity, std::int32_t nonce, int processId,
                               const RichPresence* presence);
std::size_t build_subscribe(char* destination, std::size_t capacity, std::int32_t nonce, const char* eventName);
std::size_t build_join_reply(char* destination, std::size_t capacity, const char* requesterId, int answer,
                             std::int32_t nonce);
