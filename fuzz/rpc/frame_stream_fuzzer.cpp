// Fuzz target: a byte stream from the service through the connection's frame
// reading, served in pieces the fuzzer chooses, with the connection driven as
// the I/O thread drives it (Open while connecting, Read until nothing more).
// A plain frame reader written here says what the stream holds; the
// connection must agree with it: a pong for every ping, in order and
// unchanged; every message returned (when the handshake is skipped); a
// connection that ends exactly when the stream gives a reason, with that
// reason; and records that stay within their sizes.
//
// Input: byte 0 options (bits 0-1 what becomes of writes after the
// handshake: taken, taken, failed, timed out; bit 2 the service goes after
// the last piece; bit 3 the handshake is taken as answered), byte 1 the
// number of pieces before the last (mod 16), then two bytes (little-endian)
// per such piece for its length, then the stream.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/rpc/scripted_transport.h"
#include "rpc/ipc_connection.h"
#include "rpc/pipe_transport.h"

namespace {

using scripted_transport::ThePeer;
using scripted_transport::WriteOutcome;

struct Report {
    int code;
    std::string message;
};
std::vector<Report> reports;
void OnDisconnected(int code, const char* message) { reports.push_back({code, message}); }
void OnConnected() {}

// Aborts with the failed check, so that libFuzzer keeps the input.
void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "frame_stream_fuzzer: %s\n", what);
    std::abort();
}

std::uint32_t Word(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// Why the stream ends the connection, as a plain reading of it says.
enum class End { None, PipeClosed, PartialPayload, BadFrame, CloseFrame, WriteFailed };

struct StreamReading {
    std::vector<std::string> pings;  // payloads of the pings answered, in order
    int messages = 0;                // message frames read
    End end = End::None;
};

StreamReading ReadStream(const std::string& stream, bool hungUp, WriteOutcome pongs) {
    StreamReading reading;
    std::size_t at = 0;
    for (;;) {
        if (stream.size() - at < 8) {
            if (hungUp) reading.end = End::PipeClosed;
            return reading;
        }
        const std::uint32_t opcode = Word(stream, at), length = Word(stream, at + 4);
        if (opcode < 1 || opcode > 4 || length > 65527) {
            reading.end = End::BadFrame;
            return reading;
        }
        if (stream.size() - at - 8 < length) {
            if (hungUp) reading.end = End::PartialPayload;
            return reading;
        }
        const std::string payload = stream.substr(at + 8, length);
        at += 8 + length;
        if (opcode == 1) ++reading.messages;
        if (opcode == 2) {
            reading.end = End::CloseFrame;
            return reading;
        }
        if (opcode == 3) {
            if (pongs != WriteOutcome::Taken) {
                reading.end = End::WriteFailed;
                return reading;
            }
            reading.pings.push_back(payload);
        }
    }
}

// The frames the client wrote after its handshake must all be pongs.
std::vector<std::string> PongsWritten(const std::string& written) {
    std::vector<std::string> pongs;
    std::size_t at = 0;
    bool handshake = true;
    while (written.size() - at >= 8) {
        const std::uint32_t opcode = Word(written, at), length = Word(written, at + 4);
        Check(written.size() - at - 8 >= length, "a frame was written in part");
        Check(opcode == (handshake ? 0u : 4u), "the client wrote a frame other than its handshake and pongs");
        if (!handshake) pongs.push_back(written.substr(at + 8, length));
        handshake = false;
        at += 8 + length;
    }
    Check(at == written.size(), "a header was written in part");
    return pongs;
}

// What the I/O thread does in the turns that follow, until nothing changes.
// Returns the number of messages Read returned.
int DriveUntilStill(IpcConnection& connection) {
    int messages = 0;
    for (int turn = 0; turn < 100000; ++turn) {
        const std::size_t unreadBefore = ThePeer().unread.size();
        const ConnectionState stateBefore = connection.state.load();
        const std::size_t receivedBefore = connection.inFrameReceived;
        bool returned = false;
        if (stateBefore == ConnectionState::HandshakeSent) {
            connection.Open();
        } else if (stateBefore == ConnectionState::Connected) {
            MessageDocument message;
            returned = connection.Read(message);
            messages += returned ? 1 : 0;
        }
        Check(connection.inFrameReceived <= kFrameHeaderSize + kFramePayloadCapacity - 1, "receive area overrun");
        Check(std::memchr(connection.errorMessage, '\0', sizeof connection.errorMessage) != nullptr,
              "error text without its terminator");
        if (!returned && ThePeer().unread.size() == unreadBefore && connection.state.load() == stateBefore &&
            connection.inFrameReceived == receivedBefore) {
            break;
        }
    }
    return messages;
}

void CheckEnd(const StreamReading& reading, WriteOutcome pongs, const IpcConnection& connection) {
    const bool live = connection.state.load() != ConnectionState::Disconnected;
    Check(live == (reading.end == End::None), "the connection ended without a reason in the stream, or lived on");
    Check(reports.size() == (live ? 0u : 1u), "not exactly one report for the end");
    if (live) return;
    const Report& report = reports[0];
    switch (reading.end) {
    case End::PipeClosed:
        Check(report.code == 1 && report.message == "Pipe closed", "wrong reason for a closed pipe");
        break;
    case End::PartialPayload:
        Check(report.code == 2 && report.message == "Partial data in frame", "wrong reason for a partial frame");
        break;
    case End::BadFrame:
        Check(report.code == 2 && report.message == "Bad ipc frame", "wrong reason for a bad frame");
        break;
    case End::WriteFailed:
        // A failed pong reports what was recorded before (nothing here); one
        // that timed out reports its own reason.
        Check(pongs == WriteOutcome::Failed ? report.code == 0 && report.message.empty()
                                            : report.code == 1 && report.message == "Write timed out",
              "wrong reason for a failed pong");
        break;
    default:
        break;
    }
    Check(connection.inFrameReceived == 0, "a closed connection keeps part of a frame");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t options = data[0];
    const WriteOutcome pongs = (options & 3) == 2 ? WriteOutcome::Failed
                               : (options & 3) == 3 ? WriteOutcome::TimedOut
                                                    : WriteOutcome::Taken;
    const bool hangUp = (options & 4) != 0;
    const bool skipHandshake = (options & 8) != 0;
    std::size_t at = 2;
    std::vector<std::size_t> pieces;
    for (int i = 0; i < data[1] % 16 && at + 2 <= size; ++i, at += 2) {
        pieces.push_back(data[at] | static_cast<std::size_t>(data[at + 1]) << 8);
    }
    const std::string stream(reinterpret_cast<const char*>(data) + at, size - at);

    scripted_transport::Reset();
    ThePeer().laterWrites = pongs;
    reports.clear();
    IpcConnection& connection = *IpcConnection::Create("fuzz");
    connection.onConnected = OnConnected;
    connection.onDisconnected = OnDisconnected;
    connection.errorCode = 0;
    connection.errorMessage[0] = '\0';
    connection.Open();  // the pipe opens and the handshake goes out
    Check(connection.state.load() == ConnectionState::HandshakeSent, "the handshake was not sent");
    if (skipHandshake) connection.state = ConnectionState::Connected;

    int messages = 0;
    std::size_t served = 0;
    for (std::size_t piece : pieces) {
        const std::size_t length = std::min(piece, stream.size() - served);
        ThePeer().unread.append(stream, served, length);
        served += length;
        messages += DriveUntilStill(connection);
    }
    ThePeer().unread.append(stream, served, std::string::npos);
    messages += DriveUntilStill(connection);
    if (hangUp) {
        ThePeer().hungUp = true;
        messages += DriveUntilStill(connection);
    }

    const StreamReading reading = ReadStream(stream, hangUp, pongs);
    CheckEnd(reading, pongs, connection);
    Check(PongsWritten(ThePeer().written) == reading.pings, "the pongs differ from the pings");
    if (skipHandshake) Check(messages == reading.messages, "a message was lost or made up");

    connection.onDisconnected = nullptr;
    connection.Close();
    return 0;
}
