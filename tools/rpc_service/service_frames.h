#pragma once
// Frames as the service sees them: an 8-byte header (opcode, then payload
// length, both unsigned 32-bit little-endian) and the payload. Written here
// byte by byte, apart from the client's own frame code.

#include <cstdint>
#include <string>

#include "tools/rpc_service/service_pipe.h"

namespace service_frames {

enum Opcode : std::uint32_t { kHandshake = 0, kMessage = 1, kClose = 2, kPing = 3, kPong = 4 };

// The largest payload read; a longer frame ends the connection.
constexpr std::uint32_t kMaxPayload = 1u << 20;

struct Frame {
    std::uint32_t opcode = 0;
    std::string payload;
};

// A header announcing `length` payload bytes, whatever follows it.
std::string EncodeHeader(std::uint32_t opcode, std::uint32_t length);
std::string Encode(std::uint32_t opcode, const std::string& payload);

enum class ReadResult { Frame, TimedOut, Gone, TooLong };

// Waits up to `timeoutMs` (negative: without limit) for the next whole frame.
ReadResult Read(ServicePipe& pipe, Frame& frame, int timeoutMs = -1);

}  // namespace service_frames
