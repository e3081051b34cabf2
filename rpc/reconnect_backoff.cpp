#include "rpc/reconnect_backoff.h"

#include <algorithm>

std::int64_t ReconnectBackoff::advance_delay() {
    double r = distribution(engine);
    auto growth = static_cast<std::int64_t>(2.0 * static_cast<double>(currentMs) * r);  // truncated toward zero
    currentMs = std::min(maximumMs, currentMs + growth);
    return currentMs;
}

void ReconnectBackoff::reset_delay() { currentMs = minimumMs; }
