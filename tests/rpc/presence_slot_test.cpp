// The presence slot and the outgoing queue: only the latest presence waits,
// a failed write gives way to a newer presence, the queue holds eight
// requests and its producers do not garble one another's entries.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "rpc/io_worker.h"
#include "rpc/outgoing_messages.h"
#include "rpc/serialization.h"

namespace {

std::string take_slot() {
    static char copy[kRequestCapacity];
    std::size_t length = take_presence(copy);
    return std::string(copy, length);
}

void drain_queue() {
    while (outgoingQueue.HasPending()) {
        outgoingQueue.Take();
        outgoingQueue.Release();
    }
}

std::string set_activity(std::int32_t nonce, int pid, const char* state) {
    return "{\"nonce\":\"" + std::to_string(nonce) + "\",\"cmd\":\"SET_ACTIVITY\",\"args\":{\"pid\":" +
           std::to_string(pid) + (state != nullptr ? std::string(",\"activity\":{\"state\":\"") + state +
                                                         "\",\"instance\":false}}}"
                                                   : std::string("}}"));
}

TEST(PresenceSlot, HoldsOnlyTheLatestRequestAndEmptiesWhenTaken) {
    RichPresence first;
    first.state = "first";
    RichPresence second;
    second.state = "second";
    store_presence(11, &first);
    std::int32_t firstNonce = take_nonce() - 1;  // the nonce the store took
    store_presence(11, &second);
    EXPECT_EQ(take_slot(), set_activity(firstNonce + 2, 11, "second"));
    EXPECT_EQ(take_slot(), "");

    store_presence(0, nullptr);
    EXPECT_EQ(take_slot(), set_activity(firstNonce + 3, 0, nullptr));
}

TEST(PresenceSlot, FailedWriteGoesBackUnlessANewerPresenceArrived) {
    RichPresence presence;
    presence.state = "old";
    store_presence(5, &presence);
    std::string old = take_slot();  // taken for a write that fails
    restore_presence(old.data(), old.size());
    EXPECT_EQ(take_slot(), old);

    store_presence(5, &presence);
    old = take_slot();  // taken for a write ...
    presence.state = "new";
    store_presence(5, &presence);  // ... while the host stores a newer presence ...
    std::int32_t newerNonce = take_nonce() - 1;
    restore_presence(old.data(), old.size());  // ... and then the write fails
    EXPECT_EQ(take_slot(), set_activity(newerNonce, 5, "new"));
}

TEST(PresenceSlot, ANewConnectionGetsTheLastSentPresenceUnlessANewerWaits) {
    RichPresence presence;
    presence.state = "sent";
    store_presence(5, &presence);
    std::string sent = take_slot();
    remember_sent_presence(sent.data(), sent.size());
    EXPECT_EQ(take_slot(), "");

    resend_last_presence();
    EXPECT_EQ(take_slot(), sent);

    presence.state = "waiting";
    store_presence(5, &presence);
    std::int32_t waitingNonce = take_nonce() - 1;
    resend_last_presence();
    EXPECT_EQ(take_slot(), set_activity(waitingNonce, 5, "waiting"));
}

TEST(OutgoingQueue, HoldsEightRequestsAndTakesNoNonceWhenFull) {
    drain_queue();
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(subscribe_event("ACTIVITY_JOIN")) << i;
    std::int32_t before = take_nonce();
    EXPECT_FALSE(subscribe_event("ACTIVITY_SPECTATE"));
    EXPECT_EQ(take_nonce(), before + 1);

    const OutgoingEntry* oldest = outgoingQueue.Take();
    EXPECT_EQ(std::string(oldest->bytes, oldest->length),
              "{\"nonce\":\"" + std::to_string(before - 8) + "\",\"cmd\":\"SUBSCRIBE\",\"evt\":\"ACTIVITY_JOIN\"}");
    outgoingQueue.Release();
    EXPECT_TRUE(subscribe_event("ACTIVITY_SPECTATE"));
    drain_queue();
}

// Two producers and the consumer at once: every request taken is complete
// and appears exactly once.
TEST(OutgoingQueue, ProducersOnTwoThreadsDoNotGarbleEntries) {
    drain_queue();
    constexpr int kPerProducer = 3000;
    std::atomic<int> producersDone{0};
    std::set<std::string> taken;
    int garbled = 0;

    auto produce = [&](const char* requester) {
        for (int i = 0; i < kPerProducer;) {
            std::string id = std::string(requester) + "-" + std::to_string(i);
            bool queued = queue_request([&](char* bytes, std::size_t capacity, std::int32_t nonce) {
                return build_join_reply(bytes, capacity, id.c_str(), 1, nonce);
            });
            if (queued) {
                ++i;
            } else {
                std::this_thread::yield();
            }
        }
        ++producersDone;
    };
    std::thread a(produce, "a");
    std::thread b(produce, "b");
    while (producersDone.load() < 2 || outgoingQueue.HasPending()) {
        if (!outgoingQueue.HasPending()) {
            std::this_thread::yield();
            continue;
        }
        const OutgoingEntry* entry = outgoingQueue.Take();
        std::string body(entry->bytes, entry->length);
        outgoingQueue.Release();
        std::size_t idStart = body.find("\"user_id\":\"");
        std::size_t idEnd = idStart == std::string::npos ? idStart : body.find('"', idStart + 11);
        if (body.rfind("{\"cmd\":\"SEND_ACTIVITY_JOIN_INVITE\"", 0) != 0 || idEnd == std::string::npos ||
            body.back() != '}') {
            ++garbled;
            continue;
        }
        taken.insert(body.substr(idStart + 11, idEnd - idStart - 11));
    }
    a.join();
    b.join();
    EXPECT_EQ(garbled, 0);
    EXPECT_EQ(taken.size(), 2u * kPerProducer);
}

}  // namespace
