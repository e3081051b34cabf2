// Fuzz target: one incoming message, as the I/O thread handles it: the
// payload parsed in place into a message document, then dispatched. The
// event records are checked afterwards: every text recorded, and every text
// of a queued join request, ends within its field.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rpc/client_state.h"
#include "rpc/event_dispatch.h"
#include "rpc/event_records.h"
#include "rpc/message_document.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "incoming_message_fuzzer: %s\n", what);
    std::abort();
}

template <std::size_t size>
bool Terminated(const char (&text)[size]) {
    return std::memchr(text, '\0', size) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    detail::EventRecords& records = detail::eventRecords;
    detail::TextEventRecord* const texts[] = {&records.error, &records.join, &records.spectate};
    // Start from no waiting event, so that what waits afterwards is this input's.
    detail::EventText drained;
    for (detail::TextEventRecord* record : texts) record->Take(drained);

    // The payload as the receive frame holds it: its bytes, then a zero byte.
    std::vector<char> payload(data, data + size);
    payload.push_back('\0');
    MessageDocument message;
    message.ParseInPlace(payload.data(), size);
    detail::dispatch_message(message);

    // What a handler would be given: a text that ends within its field
    // (the copy starts from bytes without a terminator, so a missing one shows).
    for (detail::TextEventRecord* record : texts) {
        detail::EventText event;
        std::memset(event.text, 'x', sizeof event.text);
        if (record->Take(event)) Check(Terminated(event.text), "an event text runs past its field");
    }
    auto& queue = records.joinRequests;
    while (queue.HasPending()) {
        const detail::JoinRequestEntry* entry = queue.Take();
        Check(Terminated(entry->id) && Terminated(entry->username) && Terminated(entry->discriminator) &&
                  Terminated(entry->avatar),
              "a join request text runs past its field");
        queue.Release();
    }
    return 0;
}
