// Fuzz target: one incoming message, as the I/O thread handles it: the
// payload parsed in place into a message document, then dispatched. The
// event records are checked afterwards: every text recorded, and every text
// of a queued join request, ends within its field.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rpc/event_dispatch.h"
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

struct TextRecord {
    std::atomic<bool>& pending;
    char (&text)[kEventTextSize];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EventRecords& records = eventRecords;
    const TextRecord texts[] = {
        {records.errorPending, records.errorEventText},
        {records.joinPending, records.joinEventSecret},
        {records.spectatePending, records.spectateEventSecret},
    };
    // Texts without a terminator, so that one written without its own shows.
    for (const TextRecord& record : texts) {
        record.pending.exchange(false);
        std::memset(record.text, 'x', sizeof record.text);
    }

    // The payload as the receive frame holds it: its bytes, then a zero byte.
    std::vector<char> payload(data, data + size);
    payload.push_back('\0');
    MessageDocument message;
    message.ParseInPlace(payload.data(), size);
    dispatch_message(message);

    for (const TextRecord& record : texts) {
        if (record.pending.load()) Check(Terminated(record.text), "an event text runs past its field");
    }
    auto& queue = records.joinRequestQueue;
    while (queue.HasPending()) {
        const JoinRequestEntry* entry = queue.Take();
        Check(Terminated(entry->id) && Terminated(entry->username) && Terminated(entry->discriminator) &&
                  Terminated(entry->avatar),
              "a join request text runs past its field");
        queue.Release();
    }
    return 0;
}
