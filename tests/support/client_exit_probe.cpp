// A program linked with the client that publishes one presence, waits until
// the service has answered it, and returns from main without rpc_shutdown:
// the client's I/O thread must then be stopped and joined at exit.
// Exits with 0, or 3 when no answer came.

#include <chrono>
#include <thread>

#include "rpc/presence_client.h"

namespace {

bool answered = false;
void OnError(int, const char*) { answered = true; }

}  // namespace

int main(int argc, char** argv) {
    EventHandlers handlers = {};
    handlers.errorHandler = OnError;  // the service answers every request with an error
    rpc_initialize("1234", &handlers, 0, nullptr);
    RichPresence presence;
    presence.state = argc > 1 ? argv[1] : "published";
    rpc_update_presence(&presence);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!answered && std::chrono::steady_clock::now() < deadline) {
        rpc_run_callbacks();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return answered ? 0 : 3;
}
