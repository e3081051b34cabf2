// Filling the pipe to a stalled service with large presences.

#include "pipe_filler.h"

#include <chrono>
#include <string>
#include <thread>

#include "rpc/presence_client.h"

void FillThePipe() {
    for (int i = 0; i < kFillUpdates; ++i) {
        std::string state = "filler " + std::to_string(i) + " " + std::string(16000, 'f');
        RichPresence presence;
        presence.state = state.c_str();
        rpc_update_presence(&presence);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
