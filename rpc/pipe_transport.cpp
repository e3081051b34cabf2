#include "rpc/pipe_transport.h"

// What both backends share: the one transport of the process.

namespace {

PipeTransport theTransport;

// A stopping client notices within this time while a name is busy.
constexpr unsigned kBusySliceMs = 50;

unsigned MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<unsigned>(left.count()) : 0;
}

}  // namespace

PipeTransport* PipeTransport::Create() { return &theTransport; }

void PipeTransport::Destroy(PipeTransport*& transport) {
    if (transport != nullptr) transport->Close();
    transport = nullptr;
}

namespace detail {

OpenClock::OpenClock(const std::atomic<bool>* running)
    : running_(running),
      openDeadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(kOpenDeadlineMs)),
      nameDeadline_(openDeadline_) {}

void OpenClock::StartName() {
    nameDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyNameWaitMs);
    if (nameDeadline_ > openDeadline_) nameDeadline_ = openDeadline_;
}

unsigned OpenClock::NextSliceMs() const {
    if (running_ != nullptr && !running_->load()) return 0;
    unsigned left = MillisecondsUntil(nameDeadline_);
    return left < kBusySliceMs ? left : kBusySliceMs;
}

bool OpenClock::Over() const {
    return (running_ != nullptr && !running_->load()) || MillisecondsUntil(openDeadline_) == 0;
}

}  // namespace detail
