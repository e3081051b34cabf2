#include "tools/rpc_service/service_session.h"

#include <chrono>
#include <thread>

#include "tools/rpc_service/service_frames.h"
#include "tools/rpc_service/service_json.h"
#include "tools/rpc_service/service_output.h"

namespace {

using service_frames::Frame;

const char* const kReadyDispatch =
    "{\"cmd\":\"DISPATCH\",\"data\":{\"v\":1,\"config\":{\"environment\":\"development\"},"
    "\"user\":{\"id\":\"1\",\"username\":\"rpc_service\",\"discriminator\":\"0001\",\"avatar\":null}},"
    "\"evt\":\"READY\",\"nonce\":null}";

class Session {
public:
    Session(ServicePipe& pipe, const ServiceOptions& options, PresenceBoard* board)
        : pipe_(pipe), options_(options), board_(board) {}
    ~Session() {
        if (board_ != nullptr && card_ != 0) board_->End(card_);
    }

    void Run() {
        Frame frame;
        if (!Receive(frame)) return;
        if (frame.opcode != service_frames::kHandshake) {
            SendClose(4000, "Expected a handshake");
            return;
        }
        ShowClient(frame.payload);
        if (!AnswerHandshake()) return;
        if (options_.floodPingBytes >= 0) {
            FloodPings();
            return;
        }
        if (AfterRequests(0)) return;
        for (int requests = 0; Receive(frame);) {
            switch (frame.opcode) {
            case service_frames::kMessage:
                ShowPresence(frame.payload);
                Answer(frame.payload);
                if (AfterRequests(++requests)) return;
                break;
            case service_frames::kPing:
                Send(service_frames::kPong, frame.payload);
                break;
            case service_frames::kClose:
                return;
            default:
                break;
            }
        }
    }

private:
    bool Receive(Frame& frame) { return Receive(frame, -1) == service_frames::ReadResult::Frame; }

    // Waits up to `timeoutMs` (negative: without limit) and prints the frame that came.
    service_frames::ReadResult Receive(Frame& frame, int timeoutMs) {
        service_frames::ReadResult result = service_frames::Read(pipe_, frame, timeoutMs);
        if (result == service_frames::ReadResult::TooLong) PrintLine("frame too long");
        if (result == service_frames::ReadResult::Frame) PrintFrame("frame", frame.opcode, frame.payload);
        return result;
    }

    // Waits `delayMs`, printing every frame that comes meanwhile, so that a
    // client that does not wait for READY shows. False when the client went.
    bool ReceiveFor(int delayMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
        for (;;) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return true;
            Frame frame;
            service_frames::ReadResult result = Receive(frame, static_cast<int>(left.count()));
            // A wait may end a little early; the deadline above decides.
            if (result != service_frames::ReadResult::Frame && result != service_frames::ReadResult::TimedOut) {
                return false;
            }
        }
    }

    // Header and payload go out in one write, as the client expects.
    void Send(std::uint32_t opcode, const std::string& payload) {
        if (pipe_.WriteAll(service_frames::Encode(opcode, payload).data(), 8 + payload.size())) {
            PrintFrame("sent", opcode, payload);
        }
    }

    void SendClose(int code, const std::string& message) {
        Send(service_frames::kClose,
             "{\"code\":" + std::to_string(code) + ",\"message\":" + service_json::Quote(message) + "}");
    }

    // False when the client went while READY was delayed.
    bool AnswerHandshake() {
        if (options_.sendReady) {
            if (options_.readyDelayMs > 0 && !ReceiveFor(options_.readyDelayMs)) return false;
            Send(service_frames::kMessage, kReadyDispatch);
        }
        if (options_.sendPing) Send(service_frames::kPing, options_.pingPayload);
        for (const std::string& message : options_.messagesAfterReady) Send(service_frames::kMessage, message);
        return true;
    }

    // Stalls, then ends the connection, as the options say for the number of
    // requests that have come; true when the connection ended.
    bool AfterRequests(int requests) {
        // Reads nothing meanwhile: the client's writes fill the pipe and then block.
        if (requests == options_.stallAfter) std::this_thread::sleep_for(std::chrono::milliseconds(options_.stallMs));
        return EndsAfter(requests);
    }

    // A service that stops reading: once the client's pongs fill the pipe,
    // only a client that bounds its writes gets away. One line, not one per ping.
    void FloodPings() {
        PrintLine("flooding pings");
        const std::string ping =
            service_frames::Encode(service_frames::kPing, std::string(options_.floodPingBytes, 'p'));
        while (pipe_.WriteAll(ping.data(), ping.size())) {
        }
    }

    void ShowClient(const std::string& handshake) {
        if (board_ == nullptr) return;
        std::string applicationId;
        service_json::TopLevelString(handshake, "client_id", applicationId);
        card_ = board_->Begin(applicationId);
    }

    // Only presence requests change the card; it gets them byte for byte.
    void ShowPresence(const std::string& request) {
        std::string command;
        if (board_ == nullptr || !service_json::TopLevelString(request, "cmd", command)) return;
        if (command == "SET_ACTIVITY") board_->Update(card_, request);
    }

    // A request carries a nonce; its answer carries the same one.
    void Answer(const std::string& request) {
        std::string nonce, command;
        if (!service_json::TopLevelString(request, "nonce", nonce)) return;
        std::string cmd = service_json::TopLevelString(request, "cmd", command) ? service_json::Quote(command) : "null";
        std::string data = "null", evt = "null";
        if (options_.answerWithError) {
            data = "{\"code\":" + std::to_string(options_.errorCode) +
                   ",\"message\":" + service_json::Quote(options_.errorMessage) + "}";
            evt = "\"ERROR\"";
        }
        Send(service_frames::kMessage, "{\"cmd\":" + cmd + ",\"data\":" + data + ",\"evt\":" + evt +
                                           ",\"nonce\":" + service_json::Quote(nonce) + "}");
    }

    // True when the connection is to end now that `requests` have come.
    bool EndsAfter(int requests) {
        if (requests == options_.closeAfter) {
            SendClose(options_.closeCode, options_.closeMessage);
            return true;
        }
        return requests == options_.hangupAfter;
    }

    ServicePipe& pipe_;
    const ServiceOptions& options_;
    PresenceBoard* board_;
    int card_ = 0;  // the client's card on the board, once its handshake came
};

}  // namespace

void ServeClient(ServicePipe& pipe, const ServiceOptions& options, PresenceBoard* board) {
    Session(pipe, options, board).Run();
}
