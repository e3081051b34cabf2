// The client's shared state, zero at program start.

#include "rpc/client_state.h"

namespace detail {

IpcConnection* clientConnection = nullptr;
InstalledHandlers installedHandlers;
EventRecords eventRecords;

void InstalledHandlers::Install(const EventHandlers* table) {
    std::lock_guard<std::mutex> guard(lock_);
    handlers_ = table != nullptr ? *table : EventHandlers{};
}

EventHandlers InstalledHandlers::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return handlers_;
}

}  // namespace detail
