// The presence slot, with this test as the writer: only the latest presence
// waits, a failed write gives way to a newer presence, a new connection gets
// the presence last written, and a shut-down client forgets it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rpc/presence_slot.h"
#include "rpc/serialization.h"

namespace {

using namespace detail;

std::vector<std::string> written;
bool writeSucceeds = true;
// Runs in the middle of a write, as the host's thread can.
void (*duringWrite)() = nullptr;
std::int32_t newerNonce = 0;

bool TestWriter(const char* bytes, std::size_t length) {
    if (duringWrite != nullptr) duringWrite();
    if (writeSucceeds) written.emplace_back(bytes, length);
    return writeSucceeds;
}

// What one SendPresence writes: the slot's request, or "" when it was empty.
std::string Send() {
    written.clear();
    SendPresence(TestWriter);
    return written.empty() ? "" : written.front();
}

std::string SetActivity(std::int32_t nonce, int pid, const char* state) {
    return "{\"nonce\":\"" + std::to_string(nonce) + "\",\"cmd\":\"SET_ACTIVITY\",\"args\":{\"pid\":" +
           std::to_string(pid) + (state != nullptr ? std::string(",\"activity\":{\"state\":\"") + state +
                                                         "\",\"instance\":false}}}"
                                                   : std::string("}}"));
}

// Stores a presence and returns the nonce it took.
std::int32_t Store(int pid, const char* state) {
    RichPresence presence;
    presence.state = state;
    StorePresence(pid, state != nullptr ? &presence : nullptr);
    return take_nonce() - 1;  // this test takes the nonce after the store's own
}

class PresenceSlot : public testing::Test {
protected:
    void SetUp() override {
        writeSucceeds = true;
        duringWrite = nullptr;
        Send();  // empty the slot
        ForgetSentPresence();
    }
};

TEST_F(PresenceSlot, WritesOnlyTheLatestRequestOnce) {
    Store(11, "first");
    std::int32_t second = Store(11, "second");
    EXPECT_EQ(Send(), SetActivity(second, 11, "second"));
    EXPECT_EQ(Send(), "");

    std::int32_t cleared = Store(0, nullptr);
    EXPECT_EQ(Send(), SetActivity(cleared, 0, nullptr));
}

TEST_F(PresenceSlot, FailedWriteGoesBackUnlessANewerPresenceArrived) {
    std::int32_t old = Store(5, "old");
    writeSucceeds = false;
    Send();
    writeSucceeds = true;
    EXPECT_EQ(Send(), SetActivity(old, 5, "old"));

    Store(5, "old");
    writeSucceeds = false;
    duringWrite = [] { newerNonce = Store(5, "new"); };  // the host stores a newer presence meanwhile
    Send();
    writeSucceeds = true;
    duringWrite = nullptr;
    EXPECT_EQ(Send(), SetActivity(newerNonce, 5, "new"));
}

TEST_F(PresenceSlot, ANewConnectionGetsTheLastWrittenPresenceUnlessANewerWaits) {
    std::int32_t sent = Store(5, "sent");
    Send();
    ResendLastPresence();
    EXPECT_EQ(Send(), SetActivity(sent, 5, "sent"));

    std::int32_t waiting = Store(5, "waiting");
    ResendLastPresence();
    EXPECT_EQ(Send(), SetActivity(waiting, 5, "waiting"));
}

TEST_F(PresenceSlot, AForgottenPresenceIsNotSentAgainButOneStillWaitingIs) {
    Store(5, "sent");
    Send();
    ForgetSentPresence();
    ResendLastPresence();
    EXPECT_EQ(Send(), "");

    std::int32_t waiting = Store(5, "waiting");
    ForgetSentPresence();
    EXPECT_EQ(Send(), SetActivity(waiting, 5, "waiting"));
}

}  // namespace
