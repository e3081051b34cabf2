#include "tools/rpc_service/service_options.h"

#include <cerrno>
#include <cstdlib>

#include "tools/rpc_service/service_json.h"

const char* const kServiceUsage =
    "Usage: rpc_service [options]\n"
    "\n"
    "A local RPC service for development and tests. It listens on the first free\n"
    "name of corvane-ipc-0 to corvane-ipc-9 (a named pipe on Windows, a Unix socket\n"
    "in $XDG_RUNTIME_DIR, else $TMPDIR, $TMP, $TEMP or /tmp, elsewhere), serves\n"
    "clients one after another, answers each handshake with the READY dispatch\n"
    "and answers each request that carries a nonce.\n"
    "\n"
    "Options:\n"
    "  --pipe N                    listen on corvane-ipc-N only (N from 0 to 9)\n"
    "  --ready-delay MS            wait MS milliseconds before sending READY; frames\n"
    "                              that come meanwhile are printed, not answered\n"
    "  --no-ready                  never answer a handshake\n"
    "  --ping PAYLOAD              after READY, send a Ping frame carrying PAYLOAD\n"
    "  --flood-pings BYTES         after READY, send Ping frames carrying BYTES bytes\n"
    "                              (0 to 65527) without pause and read nothing more,\n"
    "                              until the client goes\n"
    "  --event EVT DATA            after READY, send the event dispatch\n"
    "                              {\"cmd\":\"DISPATCH\",\"data\":DATA,\"evt\":\"EVT\"}; DATA is\n"
    "                              JSON text, sent as given (may be repeated)\n"
    "  --send JSON                 after READY, send JSON as a Message frame (may be\n"
    "                              repeated; events and sends go out in the given order)\n"
    "  --error CODE MESSAGE        answer every request with an ERROR response:\n"
    "                              {\"cmd\":CMD,\"data\":{\"code\":CODE,\"message\":MESSAGE},\n"
    "                              \"evt\":\"ERROR\",\"nonce\":NONCE}\n"
    "  --close-after N CODE MESSAGE\n"
    "                              once N requests have come (0: right after READY),\n"
    "                              send a Close frame {\"code\":CODE,\"message\":MESSAGE}\n"
    "                              and close the pipe\n"
    "  --hangup-after N            once N requests have come (0: right after READY),\n"
    "                              close the pipe without a Close frame\n"
    "  --stall-after N MS          once N requests have come (0: right after READY),\n"
    "                              read and answer nothing for MS milliseconds, then\n"
    "                              go on (or end the connection, if --close-after or\n"
    "                              --hangup-after name the same N); what the client\n"
    "                              writes meanwhile waits in the pipe, and its writes\n"
    "                              block once the pipe is full\n"
    "  --clients N                 exit with 0 once N clients have been served\n"
    "  --web PORT                  also serve a web page on 127.0.0.1:PORT (0: any\n"
    "                              free port) that shows each client's application id\n"
    "                              and latest presence as a card, updated live;\n"
    "                              Linux build only\n"
    "  --assets DIR                with --web, show the image with key KEY as\n"
    "                              DIR/KEY.png where that file exists (KEY of letters,\n"
    "                              digits, '_', '-' and '.'); otherwise as a placeholder\n"
    "  --help                      show this text\n"
    "\n"
    "\"After READY\" means after the handshake has been answered (or, with\n"
    "--no-ready, after it has arrived). A request is a Message frame.\n"
    "\n"
    "Output: one line per event on standard output, flushed at once:\n"
    "  web URL             with --web, before anything else: the page's address\n"
    "  listening NAME      ready for clients; NAME is the pipe name or socket path\n"
    "  connected           a client has opened the pipe\n"
    "  frame OP BODY       a frame came: opcode in decimal, a space, the payload\n"
    "  sent OP BODY        a frame was sent\n"
    "  disconnected        the client's connection has ended\n"
    "Bytes below 0x20 and 0x7F in a payload are printed as \\u00XX, so that each\n"
    "frame stays one line. Errors go to standard error; the exit code is 1 when\n"
    "the service cannot listen (or serve the page) and 2 for a bad command line.\n";

namespace {

bool ParseNumber(const char* text, int low, int high, int& value) {
    errno = 0;
    char* end = nullptr;
    long number = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < low || number > high) return false;
    value = static_cast<int>(number);
    return true;
}

}  // namespace

bool ParseServiceOptions(int argc, char** argv, ServiceOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto has = [&](int count) {
            if (i + count < argc) return true;
            error = option + " needs " + std::to_string(count) + (count == 1 ? " value" : " values");
            return false;
        };
        auto number = [&](int low, int high, int& value) {
            if (ParseNumber(argv[++i], low, high, value)) return true;
            error = option + ": not a number from " + std::to_string(low) + " to " + std::to_string(high) + ": " +
                    argv[i];
            return false;
        };
        const int kMany = 2147483647;
        const int kLeast = -kMany - 1;
        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--pipe") {
            if (!has(1) || !number(0, 9, options.pipeDigit)) return false;
        } else if (option == "--ready-delay") {
            if (!has(1) || !number(0, kMany, options.readyDelayMs)) return false;
        } else if (option == "--no-ready") {
            options.sendReady = false;
        } else if (option == "--ping") {
            if (!has(1)) return false;
            options.sendPing = true;
            options.pingPayload = argv[++i];
        } else if (option == "--flood-pings") {
            if (!has(1) || !number(0, 65527, options.floodPingBytes)) return false;
        } else if (option == "--event") {
            if (!has(2)) return false;
            std::string event = argv[++i];
            std::string data = argv[++i];
            options.messagesAfterReady.push_back("{\"cmd\":\"DISPATCH\",\"data\":" + data +
                                                 ",\"evt\":" + service_json::Quote(event) + "}");
        } else if (option == "--send") {
            if (!has(1)) return false;
            options.messagesAfterReady.push_back(argv[++i]);
        } else if (option == "--error") {
            if (!has(2) || !number(kLeast, kMany, options.errorCode)) return false;
            options.answerWithError = true;
            options.errorMessage = argv[++i];
        } else if (option == "--close-after") {
            if (!has(3) || !number(0, kMany, options.closeAfter) || !number(kLeast, kMany, options.closeCode)) {
                return false;
            }
            options.closeMessage = argv[++i];
        } else if (option == "--hangup-after") {
            if (!has(1) || !number(0, kMany, options.hangupAfter)) return false;
        } else if (option == "--stall-after") {
            if (!has(2) || !number(0, kMany, options.stallAfter) || !number(0, kMany, options.stallMs)) return false;
        } else if (option == "--clients") {
            if (!has(1) || !number(1, kMany, options.clients)) return false;
        } else if (option == "--web") {
            if (!has(1) || !number(0, 65535, options.webPort)) return false;
        } else if (option == "--assets") {
            if (!has(1)) return false;
            options.assetsDir = argv[++i];
        } else {
            error = "unknown option: " + option;
            return false;
        }
    }
    if (!options.assetsDir.empty() && options.webPort < 0) {
        error = "--assets needs --web";
        return false;
    }
    return true;
}
