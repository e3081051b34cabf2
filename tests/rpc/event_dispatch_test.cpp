// Incoming messages and the event records they leave behind (or not).
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "rpc/client_state.h"
#include "rpc/event_dispatch.h"
#include "rpc/message_document.h"

namespace {

using namespace detail;

void Dispatch(std::string json) {
    MessageDocument message;
    message.ParseInPlace(&json[0]);
    dispatch_message(message);
}

// What one kind of text event holds when it is taken.
struct Taken {
    bool pending = false;
    int code = 0;
    std::string text;
    bool operator==(const Taken& other) const {
        return pending == other.pending && code == other.code && text == other.text;
    }
};

std::ostream& operator<<(std::ostream& out, const Taken& taken) {
    return out << (taken.pending ? "pending " : "none ") << taken.code << " \"" << taken.text << "\"";
}

Taken TakeEvent(TextEventRecord& record) {
    EventText event;
    Taken taken;
    taken.pending = record.Take(event);
    if (taken.pending) {
        taken.code = event.code;
        taken.text = event.text;
    }
    return taken;
}

// Before each message every text record holds an event that waits, so a
// message that should leave no trace shows if it overwrites one.
const Taken kUntouched{true, -1, "untouched"};

struct Records {
    Taken error = kUntouched;
    Taken join = kUntouched;
    Taken spectate = kUntouched;
    std::vector<std::string> joinRequestIds;
};

void ResetRecords() {
    for (TextEventRecord* record : {&eventRecords.error, &eventRecords.join, &eventRecords.spectate}) {
        record->Record(kUntouched.code, kUntouched.text.c_str());
    }
    while (eventRecords.joinRequests.HasPending()) {
        eventRecords.joinRequests.Take();
        eventRecords.joinRequests.Release();
    }
}

// Takes what is recorded, as rpc_run_callbacks would.
Records TakeRecords() {
    Records records;
    records.error = TakeEvent(eventRecords.error);
    records.join = TakeEvent(eventRecords.join);
    records.spectate = TakeEvent(eventRecords.spectate);
    while (eventRecords.joinRequests.HasPending()) {
        records.joinRequestIds.push_back(eventRecords.joinRequests.Take()->id);
        eventRecords.joinRequests.Release();
    }
    return records;
}

Records Error(int code, std::string text) {
    Records records;
    records.error = {true, code, std::move(text)};
    return records;
}
Records Join(std::string secret) {
    Records records;
    records.join = {true, 0, std::move(secret)};
    return records;
}
Records Spectate(std::string secret) {
    Records records;
    records.spectate = {true, 0, std::move(secret)};
    return records;
}
Records JoinRequests(std::vector<std::string> ids) {
    Records records;
    records.joinRequestIds = std::move(ids);
    return records;
}
const Records kNothing;

const std::string kSecret300(300, 's');
const std::string kJoinRequest =
    R"({"cmd":"DISPATCH","evt":"ACTIVITY_JOIN_REQUEST","data":{"user":{"id":"42","username":"ann","discriminator":"0001","avatar":"av"}}})";

struct Case {
    const char* name;
    std::string json;
    Records expected;
} const kCases[] = {
    {"response to a request", R"({"cmd":"SET_ACTIVITY","data":{"state":"x"},"evt":null,"nonce":"1"})", kNothing},
    {"error response", R"({"cmd":"SET_ACTIVITY","evt":"ERROR","nonce":"2","data":{"code":4000,"message":"Bad"}})",
     Error(4000, "Bad")},
    {"error response without data", R"({"evt":"ERROR","nonce":"2"})", Error(0, "")},
    {"error response, data not an object", R"({"evt":"ERROR","nonce":"2","data":[1]})", Error(0, "")},
    {"error code a string, message a number", R"({"evt":"ERROR","nonce":"2","data":{"code":"4000","message":5}})",
     Error(0, "")},
    {"error code a fraction", R"({"evt":"ERROR","nonce":"2","data":{"code":4000.5,"message":"m"}})", Error(0, "m")},
    {"error code beyond 32 bits", R"({"evt":"ERROR","nonce":"2","data":{"code":3000000000}})", Error(0, "")},
    {"negative error code", R"({"evt":"ERROR","nonce":"2","data":{"code":-7}})", Error(-7, "")},
    {"error message of 300 bytes", R"({"evt":"ERROR","nonce":"2","data":{"message":")" + kSecret300 + "\"}}",
     Error(0, kSecret300.substr(0, 255))},
    {"evt ERROR without nonce", R"({"evt":"ERROR","data":{"code":4000,"message":"Bad"}})", kNothing},
    {"response with an event name", R"({"evt":"ACTIVITY_JOIN","nonce":"3","data":{"secret":"s"}})", kNothing},
    {"join", R"({"cmd":"DISPATCH","evt":"ACTIVITY_JOIN","data":{"secret":"j-secret"}})", Join("j-secret")},
    {"join with a numeric nonce", R"({"evt":"ACTIVITY_JOIN","nonce":5,"data":{"secret":"n"}})", Join("n")},
    {"join secret of 300 bytes", R"({"evt":"ACTIVITY_JOIN","data":{"secret":")" + kSecret300 + "\"}}",
     Join(kSecret300.substr(0, 255))},
    {"join secret with escapes", R"({"evt":"ACTIVITY_JOIN","data":{"secret":"a\"b\\c\u00e9"}})",
     Join("a\"b\\c\xC3\xA9")},
    {"join without data", R"({"evt":"ACTIVITY_JOIN"})", kNothing},
    {"join with a numeric secret", R"({"evt":"ACTIVITY_JOIN","data":{"secret":12}})", kNothing},
    {"join, data a string", R"({"evt":"ACTIVITY_JOIN","data":"secret"})", kNothing},
    {"join in other letter case", R"({"evt":"activity_join","data":{"secret":"s"}})", kNothing},
    {"spectate", R"({"evt":"ACTIVITY_SPECTATE","data":{"secret":"watch"}})", Spectate("watch")},
    {"spectate without secret", R"({"evt":"ACTIVITY_SPECTATE","data":{}})", kNothing},
    {"join request", kJoinRequest, JoinRequests({"42"})},
    {"join request without username", R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"user":{"id":"42"}}})", kNothing},
    {"join request with a numeric id",
     R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"user":{"id":42,"username":"ann"}}})", kNothing},
    {"join request without user", R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"id":"42","username":"ann"}})",
     kNothing},
    {"unknown event", R"({"evt":"GUILD_STATUS","data":{"secret":"s"}})", kNothing},
    {"evt not a string", R"({"evt":7,"data":{"secret":"s"}})", kNothing},
    {"neither evt nor nonce", R"({"data":{"secret":"s"}})", kNothing},
    {"top level an array", R"([{"evt":"ACTIVITY_JOIN","data":{"secret":"s"}}])", kNothing},
    {"not JSON", R"({"evt":"ACTIVITY_JOIN","data":{"secret":"s"})", kNothing},
    {"empty", "", kNothing},
};

TEST(DispatchMessage, RecordsOnlyErrorsAndTheThreeEvents) {
    for (const Case& c : kCases) {
        ResetRecords();
        Dispatch(c.json);
        Records got = TakeRecords();
        EXPECT_EQ(got.error, c.expected.error) << c.name;
        EXPECT_EQ(got.join, c.expected.join) << c.name;
        EXPECT_EQ(got.spectate, c.expected.spectate) << c.name;
        EXPECT_EQ(got.joinRequestIds, c.expected.joinRequestIds) << c.name;
    }
}

TEST(DispatchMessage, LaterEventsOfOneKindReplaceTheEarlierData) {
    ResetRecords();
    Dispatch(R"({"evt":"ACTIVITY_JOIN","data":{"secret":"a much longer first secret"}})");
    Dispatch(R"({"evt":"ACTIVITY_JOIN","data":{"secret":"second"}})");
    EXPECT_EQ(TakeEvent(eventRecords.join), (Taken{true, 0, "second"}));
    EXPECT_EQ(TakeEvent(eventRecords.join), Taken{}) << "one delivery for both";
}

std::string JoinRequest(int n, bool withDiscriminator, bool withAvatar) {
    std::string user = "\"id\":\"" + std::to_string(n) + "\",\"username\":\"user" + std::to_string(n) + "\"";
    if (withDiscriminator) user += ",\"discriminator\":\"" + std::to_string(1000 + n) + "\"";
    if (withAvatar) user += ",\"avatar\":\"avatar" + std::to_string(n) + "\"";
    return R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"secret":"unused","user":{)" + user + "}}}";
}

TEST(DispatchMessage, JoinRequestQueueHoldsEightAndDropsTheNinth) {
    ResetRecords();
    for (int n = 1; n <= 9; ++n) Dispatch(JoinRequest(n, true, true));
    EXPECT_EQ(eventRecords.joinRequests.PendingCount(), 8u);

    std::vector<std::string> ids;
    while (eventRecords.joinRequests.HasPending()) {
        const JoinRequestEntry* entry = eventRecords.joinRequests.Take();
        int n = static_cast<int>(ids.size()) + 1;
        EXPECT_STREQ(entry->username, ("user" + std::to_string(n)).c_str());
        EXPECT_STREQ(entry->discriminator, std::to_string(1000 + n).c_str());
        EXPECT_STREQ(entry->avatar, ("avatar" + std::to_string(n)).c_str());
        ids.push_back(entry->id);
        eventRecords.joinRequests.Release();
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));

    // Once taken, requests are accepted again.
    Dispatch(JoinRequest(10, true, true));
    EXPECT_EQ(TakeRecords().joinRequestIds, std::vector<std::string>{"10"});
}

TEST(DispatchMessage, JoinRequestFieldsAreCutAndMissingOnesEmpty) {
    ResetRecords();
    // Fill every entry with a discriminator and an avatar first, so that a
    // reused entry shows what a request without them leaves there.
    for (int n = 1; n <= 8; ++n) Dispatch(JoinRequest(n, true, true));
    TakeRecords();
    Dispatch(JoinRequest(11, false, false));
    const std::string longText(400, 'x');
    Dispatch(R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"user":{"id":")" + longText + R"(","username":")" + longText +
             R"(","discriminator":")" + longText + R"(","avatar":")" + longText + "\"}}}");

    const JoinRequestEntry* bare = eventRecords.joinRequests.Take();
    EXPECT_STREQ(bare->id, "11");
    EXPECT_STREQ(bare->discriminator, "");
    EXPECT_STREQ(bare->avatar, "");
    eventRecords.joinRequests.Release();

    const JoinRequestEntry* cut = eventRecords.joinRequests.Take();
    EXPECT_EQ(std::string(cut->id), longText.substr(0, 31));
    EXPECT_EQ(std::string(cut->username), longText.substr(0, 343));
    EXPECT_EQ(std::string(cut->discriminator), longText.substr(0, 7));
    EXPECT_EQ(std::string(cut->avatar), longText.substr(0, 127));
    eventRecords.joinRequests.Release();
}

TEST(TextEventRecord, ALossWithoutAReasonKeepsTheLastReason) {
    TextEventRecord disconnected;
    disconnected.Record(4000, "closed by the service");
    disconnected.Record(1, nullptr);
    EXPECT_EQ(TakeEvent(disconnected), (Taken{true, 1, "closed by the service"}));
    EXPECT_EQ(TakeEvent(disconnected), Taken{});
}

}  // namespace
