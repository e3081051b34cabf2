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

void IpcConnection::Open() {
    ConnectionState current = state.load();
    if (current == ConnectionState::Connected || transport == nullptr) return;

    if (current == ConnectionState::Disconnected) {
        if (!transport->Open()) return;
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
    state = ConnectionState::Disconnected;
}

bool IpcConnection::Write(const void* payload, std::size_t length) {
    if (length > kFramePayloadCapacity || (payload == nullptr && length != 0)) return false;
    outFrame.opcode = static_cast<std::uint32_t>(FrameOpcode::Message);
    outFrame.length = static_cast<std::uint32_t>(length);
    if (length != 0) std::memcpy(outFrame.payload, payload, length);
    if (transport != nullptr && transport->Write(&outFrame, kFrameHeaderSize + length)) return true;
    Close();
    return false;
}

bool IpcConnection::Read(MessageDocument& message) {
    if (!IsLive(state.load()) || transport == nullptr) return false;
    for (;;) {
        if (!transport->Read(&inFrame, kFrameHeaderSize)) {
            if (transport->pipeOpen) return false;  // no whole header yet
            return TearDown(*this, 1, "Pipe closed");
        }
        // A payload that does not fit the receive area is refused unread.
        if (inFrame.length > kMaxIncomingPayload) return TearDown(*this, 2, "Bad ipc frame");
        // The payload is not waited for: it is written together with its header.
        if (inFrame.length != 0 && !transport->Read(inFrame.payload, inFrame.length)) {
            return TearDown(*this, 2, "Partial data in frame");
        }
        inFrame.payload[inFrame.length] = '\0';

        switch (static_cast<FrameOpcode>(inFrame.opcode)) {
        case FrameOpcode::Message:
            message.ParseInPlace(inFrame.payload, inFrame.length);
            return true;
        case FrameOpcode::Close:
            message.ParseInPlace(inFrame.payload, inFrame.length);
            return TearDownByService(*this, message);
        case FrameOpcode::Ping:
            inFrame.opcode = static_cast<std::uint32_t>(FrameOpcode::Pong);
            if (!transport->Write(&inFrame, kFrameHeaderSize + inFrame.length)) Close();
            continue;  // after a failed pong the next header read finds the pipe closed
        case FrameOpcode::Pong:
            continue;
        default:
            return TearDown(*this, 2, "Bad ipc frame");
        }
    }
}
