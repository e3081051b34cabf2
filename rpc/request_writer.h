#pragma once
// What the presence slot and the outgoing queue hand their requests to: on
// the I/O thread, a function that writes one request to the client's
// connection as a Message frame.

#include <cstddef>

namespace detail {

// Every request the client builds fits this many bytes; a longer one is cut.
constexpr std::size_t kRequestCapacity = 16384;

// Writes `length` bytes as one request; false when the write failed (the
// connection has then been torn down).
using RequestWriter = bool (*)(const char* bytes, std::size_t length);

}  // namespace detail
