// Incoming messages and the event records they leave behind (or not).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rpc/event_dispatch.h"
#include "rpc/message_document.h"

namespace {

void dispatch(std::string json) {
    MessageDocument message;
    message.ParseInPlace(&json[0]);
    dispatch_message(message);
}

struct Records {
    bool error = false;
    int errorCode = 0;
    std::string errorText;
    bool join = false;
    std::string joinSecret;
    bool spectate = false;
    std::string spectateSecret;
    std::vector<std::string> joinRequestIds;
};

const char kUntouched[] = "untouched";

// Clears every flag and the queue, and marks the texts so that a write that
// should not happen shows.
void reset_records() {
    eventRecords.errorPending.exchange(false);
    eventRecords.joinPending.exchange(false);
    eventRecords.spectatePending.exchange(false);
    eventRecords.errorEventCode = -1;
    copy_text(eventRecords.errorEventText, kEventTextSize, kUntouched);
    copy_text(eventRecords.joinEventSecret, kEventTextSize, kUntouched);
    copy_text(eventRecords.spectateEventSecret, kEventTextSize, kUntouched);
    while (eventRecords.joinRequestQueue.HasPending()) {
        eventRecords.joinRequestQueue.Take();
        eventRecords.joinRequestQueue.Release();
    }
}

// Takes what is recorded, as rpc_run_callbacks would.
Records take_records() {
    Records records;
    EventText event;
    if (take_event(eventRecords.errorPending, &eventRecords.errorEventCode, eventRecords.errorEventText, event)) {
        records.error = true;
        records.errorCode = event.code;
        records.errorText = event.text;
    }
    if (take_event(eventRecords.joinPending, nullptr, eventRecords.joinEventSecret, event)) {
        records.join = true;
        records.joinSecret = event.text;
    }
    if (take_event(eventRecords.spectatePending, nullptr, eventRecords.spectateEventSecret, event)) {
        records.spectate = true;
        records.spectateSecret = event.text;
    }
    while (eventRecords.joinRequestQueue.HasPending()) {
        records.joinRequestIds.push_back(eventRecords.joinRequestQueue.Take()->id);
        eventRecords.joinRequestQueue.Release();
    }
    return records;
}

Records error(int code, std::string text) {
    Records records;
    records.error = true;
    records.errorCode = code;
    records.errorText = std::move(text);
    return records;
}
Records join(std::string secret) {
    Records records;
    records.join = true;
    records.joinSecret = std::move(secret);
    return records;
}
Records spectate(std::string secret) {
    Records records;
    records.spectate = true;
    records.spectateSecret = std::move(secret);
    return records;
}
Records join_requests(std::vector<std::string> ids) {
    Records records;
    records.joinRequestIds = std::move(ids);
    return records;
}
const Records nothing;

const std::string kSecret300(300, 's');
const std::string kJoinRequest =
    R"({"cmd":"DISPATCH","evt":"ACTIVITY_JOIN_REQUEST","data":{"user":{"id":"42","username":"ann","discriminator":"0001","avatar":"av"}}})";

struct Case {
    const char* name;
    std::string json;
    Records expected;
} const kCases[] = {
    {"response to a request", R"({"cmd":"SET_ACTIVITY","data":{"state":"x"},"evt":null,"nonce":"1"})", nothing},
    {"error response", R"({"cmd":"SET_ACTIVITY","evt":"ERROR","nonce":"2","data":{"code":4000,"message":"Bad"}})",
     error(4000, "Bad")},
    {"error response without data", R"({"evt":"ERROR","nonce":"2"})", error(0, "")},
    {"error response, data not an object", R"({"evt":"ERROR","nonce":"2","data":[1]})", error(0, "")},
    {"error code a string, message a number", R"({"evt":"ERROR","nonce":"2","data":{"code":"4000","message":5}})",
     error(0, "")},
    {"error code a fraction", R"({"evt":"ERROR","nonce":"2","data":{"code":4000.5,"message":"m"}})", error(0, "m")},
    {"error code beyond 32 bits", R"({"evt":"ERROR","nonce":"2","data":{"code":3000000000}})", error(0, "")},
    {"negative error code", R"({"evt":"ERROR","nonce":"2","data":{"code":-7}})", error(-7, "")},
    {"error message of 300 bytes", R"({"evt":"ERROR","nonce":"2","data":{"message":")" + kSecret300 + "\"}}",
     error(0, kSecret300.substr(0, 255))},
    {"evt ERROR without nonce", R"({"evt":"ERROR","data":{"code":4000,"message":"Bad"}})", nothing},
    {"response with an event name", R"({"evt":"ACTIVITY_JOIN","nonce":"3","data":{"secret":"s"}})", nothing},
    {"join", R"({"cmd":"DISPATCH","evt":"ACTIVITY_JOIN","data":{"secret":"j-secret"}})", join("j-secret")},
    {"join with a numeric nonce", R"({"evt":"ACTIVITY_JOIN","nonce":5,"data":{"secret":"n"}})", join("n")},
    {"join secret of 300 bytes", R"({"evt":"ACTIVITY_JOIN","data":{"secret":")" + kSecret300 + "\"}}",
     join(kSecret300.substr(0, 255))},
    {"join secret with escapes", R"({"evt":"ACTIVITY_JOIN","data":{"secret":"a\"b\\c\u00e9"}})",
     join("a\"b\\c\xC3\xA9")},
    {"join without data", R"({"evt":"ACTIVITY_JOIN"})", nothing},
    {"join with a numeric secret", R"({"evt":"ACTIVITY_JOIN","data":{"secret":12}})", nothing},
    {"join, data a string", R"({"evt":"ACTIVITY_JOIN","data":"secret"})", nothing},
    {"join in other letter case", R"({"evt":"activity_join","data":{"secret":"s"}})", nothing},
    {"spectate", R"({"evt":"ACTIVITY_SPECTATE","data":{"secret":"watch"}})", spectate("watch")},
    {"spectate without secret", R"({"evt":"ACTIVITY_SPECTATE","data":{}})", nothing},
    {"join request", kJoinRequest, join_requests({"42"})},
    {"join request without username", R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"user":{"id":"42"}}})", nothing},
    {"join request with a numeric id",
     R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"user":{"id":42,"username":"ann"}}})", nothing},
    {"join request without user", R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"id":"42","username":"ann"}})",
     nothing},
    {"unknown event", R"({"evt":"GUILD_STATUS","data":{"secret":"s"}})", nothing},
    {"evt not a string", R"({"evt":7,"data":{"secret":"s"}})", nothing},
    {"neither evt nor nonce", R"({"data":{"secret":"s"}})", nothing},
    {"top level an array", R"([{"evt":"ACTIVITY_JOIN","data":{"secret":"s"}}])", nothing},
    {"not JSON", R"({"evt":"ACTIVITY_JOIN","data":{"secret":"s"})", nothing},
    {"empty", "", nothing},
};

TEST(DispatchMessage, RecordsOnlyErrorsAndTheThreeEvents) {
    for (const Case& c : kCases) {
        reset_records();
        dispatch(c.json);
        Records got = take_records();
        EXPECT_EQ(got.error, c.expected.error) << c.name;
        EXPECT_EQ(got.errorCode, c.expected.errorCode) << c.name;
        EXPECT_EQ(got.errorText, c.expected.errorText) << c.name;
        EXPECT_EQ(got.join, c.expected.join) << c.name;
        EXPECT_EQ(got.joinSecret, c.expected.joinSecret) << c.name;
        EXPECT_EQ(got.spectate, c.expected.spectate) << c.name;
        EXPECT_EQ(got.spectateSecret, c.expected.spectateSecret) << c.name;
        EXPECT_EQ(got.joinRequestIds, c.expected.joinRequestIds) << c.name;
        // A message that is ignored leaves the texts as they were.
        if (!c.expected.join) {
            EXPECT_STREQ(eventRecords.joinEventSecret, kUntouched) << c.name;
        }
        if (!c.expected.spectate) {
            EXPECT_STREQ(eventRecords.spectateEventSecret, kUntouched) << c.name;
        }
        if (!c.expected.error) {
            EXPECT_STREQ(eventRecords.errorEventText, kUntouched) << c.name;
        }
    }
}

TEST(DispatchMessage, LaterEventsOfOneKindReplaceTheEarlierData) {
    reset_records();
    dispatch(R"({"evt":"ACTIVITY_JOIN","data":{"secret":"a much longer first secret"}})");
    dispatch(R"({"evt":"ACTIVITY_JOIN","data":{"secret":"second"}})");
    Records got = take_records();
    EXPECT_TRUE(got.join);
    EXPECT_EQ(got.joinSecret, "second");
    EXPECT_FALSE(take_records().join);  // one delivery for both
}

std::string join_request(int n, bool withDiscriminator, bool withAvatar) {
    std::string user = "\"id\":\"" + std::to_string(n) + "\",\"username\":\"user" + std::to_string(n) + "\"";
    if (withDiscriminator) user += ",\"discriminator\":\"" + std::to_string(1000 + n) + "\"";
    if (withAvatar) user += ",\"avatar\":\"avatar" + std::to_string(n) + "\"";
    return R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"secret":"unused","user":{)" + user + "}}}";
}

TEST(DispatchMessage, JoinRequestQueueHoldsEightAndDropsTheNinth) {
    reset_records();
    for (int n = 1; n <= 9; ++n) dispatch(join_request(n, true, true));
    EXPECT_EQ(eventRecords.joinRequestQueue.PendingCount(), 8u);

    std::vector<std::string> ids;
    while (eventRecords.joinRequestQueue.HasPending()) {
        const JoinRequestEntry* entry = eventRecords.joinRequestQueue.Take();
        int n = static_cast<int>(ids.size()) + 1;
        EXPECT_STREQ(entry->username, ("user" + std::to_string(n)).c_str());
        EXPECT_STREQ(entry->discriminator, std::to_string(1000 + n).c_str());
        EXPECT_STREQ(entry->avatar, ("avatar" + std::to_string(n)).c_str());
        ids.push_back(entry->id);
        eventRecords.joinRequestQueue.Release();
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));

    // Once taken, requests are accepted again.
    dispatch(join_request(10, true, true));
    EXPECT_EQ(take_records().joinRequestIds, std::vector<std::string>{"10"});
}

TEST(DispatchMessage, JoinRequestFieldsAreCutAndMissingOnesEmpty) {
    reset_records();
    // Fill every entry with a discriminator and an avatar first, so that a
    // reused entry shows what a request without them leaves there.
    for (int n = 1; n <= 8; ++n) dispatch(join_request(n, true, true));
    take_records();
    dispatch(join_request(11, false, false));
    const std::string longText(400, 'x');
    dispatch(R"({"evt":"ACTIVITY_JOIN_REQUEST","data":{"user":{"id":")" + longText + R"(","username":")" + longText +
             R"(","discriminator":")" + longText + R"(","avatar":")" + longText + "\"}}}");

    const JoinRequestEntry* bare = eventRecords.joinRequestQueue.Take();
    EXPECT_STREQ(bare->id, "11");
    EXPECT_STREQ(bare->discriminator, "");
    EXPECT_STREQ(bare->avatar, "");
    eventRecords.joinRequestQueue.Release();

    const JoinRequestEntry* cut = eventRecords.joinRequestQueue.Take();
    EXPECT_EQ(std::string(cut->id), longText.substr(0, 31));
    EXPECT_EQ(std::string(cut->username), longText.substr(0, 343));
    EXPECT_EQ(std::string(cut->discriminator), longText.substr(0, 7));
    EXPECT_EQ(std::string(cut->avatar), longText.substr(0, 127));
    eventRecords.joinRequestQueue.Release();
}

TEST(ConnectionRecords, DisconnectKeepsTheOldTextWhenGivenNone) {
    record_disconnected(4000, "closed by the service");
    record_disconnected(1, nullptr);
    EventText event;
    ASSERT_TRUE(take_event(eventRecords.disconnectedPending, &eventRecords.disconnectEventCode,
                           eventRecords.disconnectEventText, event));
    EXPECT_EQ(event.code, 1);
    EXPECT_STREQ(event.text, "closed by the service");
    EXPECT_FALSE(take_event(eventRecords.disconnectedPending, &eventRecords.disconnectEventCode,
                            eventRecords.disconnectEventText, event));

    record_connected();
    EXPECT_TRUE(eventRecords.connectedPending.exchange(false));
}

}  // namespace
