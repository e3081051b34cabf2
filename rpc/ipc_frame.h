#pragma once
// The wire frame exchanged with the local RPC service: an 8-byte header
// (opcode, payload length; unsigned 32-bit little-endian) and the payload.

#include <cstddef>
#include <cstdint>

enum class FrameOpcode : std::uint32_t {
    Handshake = 0,
    Message = 1,
    Close = 2,
    Ping = 3,
    Pong = 4,
};

constexpr std::size_t kFrameHeaderSize = 8;
constexpr std::size_t kFrameBufferSize = 65536;
constexpr std::size_t kFramePayloadCapacity = kFrameBufferSize - kFrameHeaderSize;  // 65528

// Laid out exactly as on the wire (the supported targets are little-endian).
struct IpcFrame {
    std::uint32_t opcode;
    std::uint32_t length;
    char payload[kFramePayloadCapacity];
};
static_assert(sizeof(IpcFrame) == kFrameBufferSize, "a frame buffer is 64 KiB with no padding");
