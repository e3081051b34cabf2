// The outgoing queue, with this test as the writer: it holds eight requests
// and refuses a ninth without taking a nonce, writes them oldest first, drops
// one whose write fails, and its producers on two threads do not garble one
// another's entries.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "rpc/outgoing_queue.h"
#include "rpc/serialization.h"

namespace {

using namespace detail;

std::vector<std::string> written;
bool writeSucceeds = true;

bool TestWriter(const char* bytes, std::size_t length) {
    written.emplace_back(bytes, length);
    return writeSucceeds;
}

std::string Subscribe(std::int32_t nonce, const char* event) {
    return "{\"nonce\":\"" + std::to_string(nonce) + "\",\"cmd\":\"SUBSCRIBE\",\"evt\":\"" + event + "\"}";
}

TEST(OutgoingQueue, HoldsEightRequestsAndTakesNoNonceWhenFull) {
    std::int32_t first = take_nonce() + 1;
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(subscribe_event("ACTIVITY_JOIN")) << i;
    EXPECT_TRUE(OutgoingQueueIsFull());
    std::int32_t before = take_nonce();
    EXPECT_FALSE(subscribe_event("ACTIVITY_SPECTATE"));
    EXPECT_FALSE(QueueJoinReply("42", 1));
    EXPECT_EQ(take_nonce(), before + 1);

    written.clear();
    SendQueuedRequests(TestWriter);
    ASSERT_EQ(written.size(), 8u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(written[i], Subscribe(first + i, "ACTIVITY_JOIN"));
    EXPECT_FALSE(OutgoingQueueIsFull());

    // A request whose write fails is dropped, not written again.
    EXPECT_TRUE(subscribe_event("ACTIVITY_SPECTATE"));
    writeSucceeds = false;
    SendQueuedRequests(TestWriter);
    writeSucceeds = true;
    written.clear();
    SendQueuedRequests(TestWriter);
    EXPECT_TRUE(written.empty());
}

// The host's thread answers join requests while the I/O thread subscribes
// and writes: every request written is complete and appears exactly once.
TEST(OutgoingQueue, ProducersOnTwoThreadsDoNotGarbleEntries) {
    constexpr int kPerProducer = 3000;
    std::atomic<int> producersDone{0};
    std::set<std::string> replies;
    int subscriptions = 0;
    int garbled = 0;

    std::thread host([&] {
        for (int i = 0; i < kPerProducer;) {
            if (QueueJoinReply(("user-" + std::to_string(i)).c_str(), 1)) {
                ++i;
            } else {
                std::this_thread::yield();
            }
        }
        ++producersDone;
    });
    std::thread subscriber([&] {
        for (int i = 0; i < kPerProducer;) {
            if (subscribe_event("ACTIVITY_JOIN_REQUEST")) {
                ++i;
            } else {
                std::this_thread::yield();
            }
        }
        ++producersDone;
    });
    for (;;) {
        bool producersEnded = producersDone.load() == 2;  // read before draining, so nothing is missed
        written.clear();
        SendQueuedRequests(TestWriter);
        for (const std::string& body : written) {
            std::size_t idStart = body.find("\"user_id\":\"");
            std::size_t idEnd = idStart == std::string::npos ? idStart : body.find('"', idStart + 11);
            if (body.rfind("{\"cmd\":\"SEND_ACTIVITY_JOIN_INVITE\"", 0) == 0 && idEnd != std::string::npos &&
                body.back() == '}') {
                replies.insert(body.substr(idStart + 11, idEnd - idStart - 11));
            } else if (body.rfind("{\"nonce\":\"", 0) == 0 &&
                       body.find("\",\"cmd\":\"SUBSCRIBE\",\"evt\":\"ACTIVITY_JOIN_REQUEST\"}") != std::string::npos) {
                ++subscriptions;
            } else {
                ++garbled;
            }
        }
        if (written.empty()) {
            if (producersEnded) break;
            std::this_thread::yield();
        }
    }
    host.join();
    subscriber.join();
    EXPECT_EQ(garbled, 0);
    EXPECT_EQ(replies.size(), static_cast<std::size_t>(kPerProducer));
    EXPECT_EQ(subscriptions, kPerProducer);
}

}  // namespace
