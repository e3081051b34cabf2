// PipeTransport's operations for the fuzz targets (in place of a backend):
// they read from and write to the scripted peer.

#include "fuzz/rpc/scripted_transport.h"

#include <algorithm>
#include <cstring>

#include "rpc/pipe_transport.h"

namespace scripted_transport {
namespace {
Peer thePeer;
constexpr std::intptr_t kScriptedHandle = 3;
}  // namespace

Peer& ThePeer() { return thePeer; }

void Reset() { thePeer = Peer{}; }

}  // namespace scripted_transport

using scripted_transport::ThePeer;
using scripted_transport::WriteOutcome;

namespace {

// Moves `count` served bytes to `destination`.
void Take(void* destination, std::size_t count) {
    std::string& unread = ThePeer().unread;
    std::memcpy(destination, unread.data(), count);
    unread.erase(0, count);
}

}  // namespace

bool PipeTransport::Open(const std::atomic<bool>*) {
    handle = scripted_transport::kScriptedHandle;
    pipeOpen = true;
    return true;
}

bool PipeTransport::Close() {
    handle = -1;
    pipeOpen = false;
    return true;
}

bool PipeTransport::Read(void* destination, std::size_t count) {
    if (destination == nullptr || handle == -1) return false;
    if (ThePeer().unread.size() >= count) {
        Take(destination, count);
        return true;
    }
    if (ThePeer().hungUp) Close();  // the rest can never come
    return false;
}

std::size_t PipeTransport::ReadAvailable(void* destination, std::size_t most) {
    if (destination == nullptr || handle == -1 || most == 0) return 0;
    const std::size_t count = std::min(most, ThePeer().unread.size());
    if (count == 0 && ThePeer().hungUp) Close();
    Take(destination, count);
    return count;
}

bool PipeTransport::Write(const void* source, std::size_t count) {
    if (count == 0) return true;
    if (handle == -1 || source == nullptr) return false;
    scripted_transport::Peer& peer = ThePeer();
    const WriteOutcome outcome = peer.writes++ == 0 ? WriteOutcome::Taken : peer.laterWrites;
    if (outcome == WriteOutcome::TimedOut) Close();
    if (outcome != WriteOutcome::Taken) return false;
    peer.written.append(static_cast<const char*>(source), count);
    return true;
}

int CurrentProcessId() { return 4242; }
