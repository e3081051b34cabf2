#include "rpc/ipc_connection.h"

#include <cstring>

#include "rpc/fixed_text.h"
#include "rpc/pipe_transport.h"
#include "rpc/serialization.h"

namespace {

IpcConnection theConnection;

constexpr int kProtocolVersion = 1;
// The receive frame stores a zero byte right after the payload.
constexpr std::size_t kMaxIncomingPayload = kFramePayloadCapacity - 1;

bool IsLive(ConnectionState state) {
    return state == ConnectionState::HandshakeSent || state == ConnectionState::Connected;
}

bool IsReadyDispatch(const MessageDocument& message) {
    return StringMemberEquals(message, "cmd", "DISPATCH") && StringMemberEquals(message, "evt", "READY");
}

// Records why the connection ends and ends it; `Close` reports the record.
bool TearDown(IpcConnection& connection, int errorCode, const char* errorMessage) {
    connection.errorCode = errorCode;
    detail::CopyFixedText(connection.errorMessage, errorMessage);
    connection.Close();
    return false;
}

// The service's own reason: "code" when it is a 32-bit integer, else 0, and
// "message" when it is a string, else the empty text.
bool TearDownByService(IpcConnection& connection, const MessageDocument& body) {
    const MessageValue* code = Member(body, "code");
    const MessageValue* text = StringMember(body, "message");
    connection.errorCode = (code != nullptr && code->IsInt()) ? code->GetInt() : 0;
    if (text != nullptr) {
        detail::CopyFixedText(connection.errorMessage, text->GetString());
    } else {
        connection.errorMessage[0] = '\0';
    }
    connection.Close();
    return false;
}

bool IsKnownOpcode(std::uint32_t opcode) {
    return opcode >= static_cast<std::uint32_t>(FrameOpcode::Message) &&
           opcode <= static_cast<std::uint32_t>(FrameOpcode::Pong);
}

enum class Arrival { Complete, NotYet, TornDown };

// Moves up to `end` bytes of the frame into the receive frame, from what has
// arrived: the header and the payload alike come in pieces over any number
// of Reads, so a pipe that breaks in either shows at once.
Arrival ReceiveUpTo(IpcConnection& connection, std::size_t end) {
    PipeTransport& transport = *connection.transport;
    while (connection.inFrameReceived < end) {
        char* next = reinterpret_cast<char*>(&connection.inFrame) + connection.inFrameReceived;
        std::size_t received = transport.ReadAvailable(next, end - connection.inFrameReceived);
        if (received == 0) {
            if (transport.pipeOpen) return Arrival::NotYet;
            // A header cut short is a closed pipe; a payload cut short, partial data.
            if (connection.inFrameReceived < kFrameHeaderSize) {
                TearDown(connection, 1, "Pipe closed");
            } else {
                TearDown(connection, 2, "Partial data in frame");
            }
            return Arrival::TornDown;
        }
        connection.inFrameReceived += received;
    }
    return Arrival::Complete;
}

// Moves what has arrived of the next frame into the receive frame. A frame
// that cannot be accepted is refused as soon as its header is there.
Arrival ReceiveFrame(IpcConnection& connection) {
    IpcFrame& frame = connection.inFrame;
    if (connection.inFrameReceived < kFrameHeaderSize) {
        Arrival header = ReceiveUpTo(connection, kFrameHeaderSize);
        if (header != Arrival::Complete) return header;
        if (frame.length > kMaxIncomingPayload || !IsKnownOpcode(frame.opcode)) {
            TearDown(connection, 2, "Bad ipc frame");
            return Arrival::TornDown;
        }
    }
    Arrival payload = ReceiveUpTo(connection, kFrameHeaderSize + frame.length);
    if (payload != Arrival::Complete) return payload;
    connection.inFrameReceived = 0;
    frame.payload[frame.length] = '\0';
    return Arrival::Complete;
}

}  // namespace

IpcConnection* IpcConnection::Create(const char* applicationId) {
    theConnection.transport = PipeTransport::Create();
    if (applicationId != nullptr) detail::CopyFixedText(theConnection.applicationId, applicationId);
    return &theConnection;
}

void IpcConnection::Destroy(IpcConnection*& connection) {
    if (connection != nullptr) {
        connection->Close();
        PipeTransport::Destroy(connection->transport);
    }
    connection = nullptr;
}

void IpcConnection::Open(const std::atomic<bool>* running) {
    ConnectionState current = state.load();
    if (current == ConnectionState::Connected || transport == nullptr) return;

    if (current == ConnectionState::Disconnected) {
        if (!transport->Open(running)) return;
        outFrame.opcode = static_cast<std::uint32_t>(FrameOpcode::Handshake);
        outFrame.length = static_cast<std::uint32_t>(
            build_handshake(outFrame.payload, kFramePayloadCapacity, kProtocolVersion, applicationId));
        if (transport->Write(&outFrame, kFrameHeaderSize + outFrame.length)) {
            state = ConnectionState::HandshakeSent;
        } else {
            Close();
        }
        return;  // the answer comes on a later step
    }

    MessageDocument message;
    if (Read(message) && IsReadyDispatch(message)) {
        state = ConnectionState::Connected;
        if (onConnected != nullptr) onConnected();
    }
}

void IpcConnection::Close() {
    if (onDisconnected != nullptr && IsLive(state.load())) onDisconnected(errorCode, errorMessage);
    if (transport != nullptr) transport->Close();
    inFrameReceived = 0;
    state = ConnectionState::Disconnected;
}

bool IpcConnection::Write(const void* payload, std::size_t length) {
    if (length > kFramePayloadCapacity || (payload == nullptr && length != 0)) return false;
    outFrame.opcode = static_cast<std::uint32_t>(FrameOpcode::Message);
    outFrame.length = static_cast<std::uint32_t>(length);
    if (length != 0) std::memcpy(outFrame.payload, payload, length);
    return WriteFrame(outFrame);
}

bool IpcConnection::WriteFrame(IpcFrame& frame) {
    const bool wasOpen = transport != nullptr && transport->pipeOpen;
    if (transport != nullptr && transport->Write(&frame, kFrameHeaderSize + frame.length)) return true;
    // The transport closes itself only when the service did not take the
    // bytes in time; any other failure reports what was recorded before.
    if (wasOpen && !transport->pipeOpen) return TearDown(*this, 1, "Write timed out");
    Close();
    return false;
}

bool IpcConnection::Read(MessageDocument& message) {
    int framesLeft = kFramesPerTurn;
    return Read(message, framesLeft);
}

bool IpcConnection::Read(MessageDocument& message, int& framesLeft) {
    if (!IsLive(state.load()) || transport == nullptr) return false;
    while (framesLeft > 0) {
        if (ReceiveFrame(*this) != Arrival::Complete) return false;
        --framesLeft;
        switch (static_cast<FrameOpcode>(inFrame.opcode)) {
        case FrameOpcode::Message:
            message.ParseInPlace(inFrame.payload, inFrame.length);
            return true;
        case FrameOpcode::Close:
            message.ParseInPlace(inFrame.payload, inFrame.length);
            return TearDownByService(*this, message);
        case FrameOpcode::Ping:
            inFrame.opcode = static_cast<std::uint32_t>(FrameOpcode::Pong);
            WriteFrame(inFrame);
            continue;  // after a failed pong the next header read finds the pipe closed
        default:       // a pong: nothing to do
            continue;
        }
    }
    return false;
}
