#pragma once
// The randomized delay between connection attempts: each advance multiplies
// it by a random factor in [1, 3), up to a ceiling of 60 s; a successful
// connection resets it to 0.5 s. Used only on the I/O thread.

#include <cstdint>
#include <random>

struct ReconnectBackoff {
    std::int64_t minimumMs = 500;
    std::int64_t maximumMs = 60000;
    std::int64_t currentMs = 500;  // always within [minimumMs, maximumMs]
    std::mt19937_64 engine;
    std::uniform_real_distribution<double> distribution{0.0, 1.0};

    // The client's backoff is seeded with the calendar time in whole seconds;
    // tests pass a fixed seed to get a known sequence.
    explicit ReconnectBackoff(std::uint64_t seed) : engine(seed) {}

    // Grows currentMs by a factor 1 + 2r (r drawn from [0, 1)), capped at
    // maximumMs, and returns it.
    std::int64_t advance_delay();
    void reset_delay();
};
