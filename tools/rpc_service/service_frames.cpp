#include "tools/rpc_service/service_frames.h"

namespace service_frames {
namespace {

void PutWord(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::uint32_t GetWord(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::string EncodeHeader(std::uint32_t opcode, std::uint32_t length) {
    std::string header;
    PutWord(header, opcode);
    PutWord(header, length);
    return header;
}

std::string Encode(std::uint32_t opcode, const std::string& payload) {
    return EncodeHeader(opcode, static_cast<std::uint32_t>(payload.size())) + payload;
}

ReadResult Read(ServicePipe& pipe, Frame& frame, int timeoutMs) {
    unsigned char header[8];
    PipeRead result = pipe.ReadExact(header, sizeof header, timeoutMs);
    if (result != PipeRead::Done) return result == PipeRead::TimedOut ? ReadResult::TimedOut : ReadResult::Gone;
    frame.opcode = GetWord(header);
    std::uint32_t length = GetWord(header + 4);
    if (length > kMaxPayload) return ReadResult::TooLong;
    frame.payload.assign(length, '\0');
    if (length != 0 && pipe.ReadExact(&frame.payload[0], length, timeoutMs) != PipeRead::Done) return ReadResult::Gone;
    return ReadResult::Frame;
}

}  // namespace service_frames
