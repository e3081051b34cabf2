// A small program that plays a fake game for the demo and the end-to-end
// tests. It keeps its state in one block of memory that starts with a
// signature a presence script can find, changes that state every few seconds,
// and ends by itself after a given time.
//
//   demo_game [--seconds N] [--step-ms M]
//
// --seconds N   end after N seconds (default 40)
// --step-ms M   change the state every M milliseconds (default 4000; 0: never)
//
// Lines on standard input steer it as well: "step" changes the state at once,
// "exit" ends the game. Each change is printed as one line.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "tools/demo_game/game_state.h"

// The game's state, where a presence script looks for it. Not static, so the
// compiler keeps every store to it.
DemoGameState g_gameState = {
    {'C', 'o', 'r', 'v', 'a', 'n', 'e', 'D', 'e', 'm', 'o', 'S', 't', 'a', 't', 'e'},
    "Harbor", 1, 0, 1, 4};

namespace {

const char* const kMaps[] = {"Harbor", "Old Quarry", "Sunken Library", "Glass Dunes"};

struct Options {
    long seconds = 40;
    long stepMs = 4000;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--seconds" || arg == "--step-ms") && i + 1 < argc) {
            char* end = nullptr;
            long value = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || value < 0) return false;
            (arg == "--seconds" ? options.seconds : options.stepMs) = value;
        } else {
            return false;
        }
    }
    return true;
}

std::mutex g_lock;
std::condition_variable g_wake;
// Steps asked for on standard input and not yet made: a count, so that two
// "step" lines read before the game's loop wakes make two steps.
int g_stepsRequested = 0;
bool g_exitRequested = false;

void Advance(int step) {
    std::snprintf(g_gameState.mapName, sizeof g_gameState.mapName, "%s", kMaps[(step / 2) % 4]);
    g_gameState.level = 1 + step;
    g_gameState.score = step * 1250 + 300;
    g_gameState.partySize = 1 + step % g_gameState.partyCapacity;
}

void PrintState() {
    std::printf("demo_game: map \"%s\", level %d, score %d, party %d/%d\n", g_gameState.mapName,
                static_cast<int>(g_gameState.level), static_cast<int>(g_gameState.score),
                static_cast<int>(g_gameState.partySize), static_cast<int>(g_gameState.partyCapacity));
    std::fflush(stdout);
}

// Reads commands from standard input; end of input changes nothing, so the
// game also runs with its input closed.
void ReadCommands() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::lock_guard<std::mutex> hold(g_lock);
        if (line == "step") ++g_stepsRequested;
        if (line == "exit") g_exitRequested = true;
        g_wake.notify_all();
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: demo_game [--seconds N] [--step-ms M]\n");
        return 2;
    }
    std::thread(ReadCommands).detach();

    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(options.seconds);
    Clock::time_point nextStep = Clock::now() + std::chrono::milliseconds(options.stepMs);
    int step = 0;
    PrintState();

    std::unique_lock<std::mutex> hold(g_lock);
    while (!g_exitRequested && Clock::now() < end) {
        Clock::time_point wakeAt = end;
        if (options.stepMs > 0 && nextStep < wakeAt) wakeAt = nextStep;
        // A request that came before this wait (even before the loop began)
        // is seen at once rather than waited through.
        g_wake.wait_until(hold, wakeAt, [] { return g_stepsRequested > 0 || g_exitRequested; });
        bool timedStep = options.stepMs > 0 && Clock::now() >= nextStep;
        if (timedStep) {
            nextStep += std::chrono::milliseconds(options.stepMs);
            Advance(++step);
            PrintState();
        }
        for (; g_stepsRequested > 0; --g_stepsRequested) {
            Advance(++step);
            PrintState();
        }
    }
    std::printf("demo_game: over\n");
    std::fflush(stdout);
    // The input reader may still be blocked in a read; end without waiting for it.
    std::_Exit(0);
}
