#include "rpc/serialization.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rpc/request_writer.h"

namespace {

using detail::kRequestCapacity;

RichPresence Presence(const std::function<void(RichPresence&)>& fill) {
    RichPresence presence;
    fill(presence);
    return presence;
}

std::string SetActivity(std::int32_t nonce, int pid, const RichPresence* presence,
                        std::size_t capacity = kRequestCapacity) {
    std::string buffer(capacity, '\0');
    std::size_t length = build_set_activity(&buffer[0], capacity, nonce, pid, presence);
    EXPECT_LE(length, capacity);
    return buffer.substr(0, length);
}

std::string ActivityOf(const RichPresence& presence) {
    const std::string prefix = R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":4242,"activity":)";
    std::string text = SetActivity(1, 4242, &presence);
    if (text.compare(0, prefix.size(), prefix) != 0 || text.size() < prefix.size() + 2) return "unexpected: " + text;
    return text.substr(prefix.size(), text.size() - prefix.size() - 2);
}

struct ActivityCase {
    const char* name;
    RichPresence presence;
    const char* activity;  // the "activity" object expected
};

const ActivityCase kActivityCases[] = {
    {"nothing set", Presence([](RichPresence&) {}), R"({"instance":false})"},
    {"party size only", Presence([](RichPresence& p) { p.partyCount = 2, p.partyCapacity = 4; }),
     R"({"party":{"size":[2,4]},"instance":false})"},
    {"party count without capacity", Presence([](RichPresence& p) { p.partyCount = 3; }),
     R"({"party":{},"instance":false})"},
    {"party capacity without count", Presence([](RichPresence& p) { p.partyCapacity = 5; }),
     R"({"party":{},"instance":false})"},
    {"party id and size",
     Presence([](RichPresence& p) { p.partyId = "ae488379", p.partyCount = 2, p.partyCapacity = 4; }),
     R"({"party":{"id":"ae488379","size":[2,4]},"instance":false})"},
    {"negative party size", Presence([](RichPresence& p) { p.partyCount = -1, p.partyCapacity = -2147483647 - 1; }),
     R"({"party":{"size":[-1,-2147483648]},"instance":false})"},
    {"end time only", Presence([](RichPresence& p) { p.endTime = 1507665886; }),
     R"({"timestamps":{"end":1507665886},"instance":false})"},
    {"both times, 64-bit", Presence([](RichPresence& p) { p.startTime = 9007199254740993, p.endTime = -1; }),
     R"({"timestamps":{"start":9007199254740993,"end":-1},"instance":false})"},
    {"instance 7", Presence([](RichPresence& p) { p.instance = 7; }), R"({"instance":true})"},
    {"instance -1", Presence([](RichPresence& p) { p.instance = -1; }), R"({"instance":true})"},
    {"texts holding only a NUL byte are unset", Presence([](RichPresence& p) { p.state = "", p.joinSecret = ""; }),
     R"({"instance":false})"},
    {"escapes", Presence([](RichPresence& p) { p.state = "a\"b\\c\td\x01"; }),
     R"({"state":"a\"b\\c\td\u0001","instance":false})"},
    {"every control byte", Presence([](RichPresence& p) { p.details = "\b\f\n\r\x1f\x0b\x7f/"; }),
     "{\"details\":\"\\b\\f\\n\\r\\u001F\\u000B\x7f/\",\"instance\":false}"},
    {"bytes from 0x80 copied unchanged, valid or not",
     Presence([](RichPresence& p) { p.state = "K\xc3\xb6nig \xe2\x98\x83 \xff\xfe"; }),
     "{\"state\":\"K\xc3\xb6nig \xe2\x98\x83 \xff\xfe\",\"instance\":false}"},
    {"some image fields", Presence([](RichPresence& p) { p.smallImageText = "Rogue", p.largeImageKey = "map"; }),
     R"({"assets":{"large_image":"map","small_text":"Rogue"},"instance":false})"},
    {"some secrets", Presence([](RichPresence& p) { p.spectateSecret = "s", p.matchSecret = "m"; }),
     R"({"secrets":{"match":"m","spectate":"s"},"instance":false})"},
    {"every field, in order", Presence([](RichPresence& p) {
         p.instance = 1, p.spectateSecret = "watch", p.joinSecret = "join", p.matchSecret = "match";
         p.partyCapacity = 5, p.partyCount = 1, p.partyId = "party";
         p.smallImageText = "st", p.smallImageKey = "sk", p.largeImageText = "lt", p.largeImageKey = "lk";
         p.endTime = 20, p.startTime = 10, p.details = "Ranked", p.state = "In a match";
     }),
     R"({"state":"In a match","details":"Ranked","timestamps":{"start":10,"end":20},)"
     R"("assets":{"large_image":"lk","large_text":"lt","small_image":"sk","small_text":"st"},)"
     R"("party":{"id":"party","size":[1,5]},"secrets":{"match":"match","join":"join","spectate":"watch"},)"
     R"("instance":true})"},
};

TEST(SetActivityTest, ActivityObjectIsWrittenExactly) {
    for (const ActivityCase& c : kActivityCases) {
        EXPECT_EQ(ActivityOf(c.presence), c.activity) << c.name;
    }
}

TEST(SetActivityTest, WholeRequestWithAndWithoutPresence) {
    RichPresence party = Presence([](RichPresence& p) { p.partyCount = 2, p.partyCapacity = 4; });
    EXPECT_EQ(SetActivity(1, 4242, &party),
              R"({"nonce":"1","cmd":"SET_ACTIVITY","args":{"pid":4242,"activity":{"party":{"size":[2,4]},"instance":false}}})");
    EXPECT_EQ(SetActivity(2, 4242, nullptr), R"({"nonce":"2","cmd":"SET_ACTIVITY","args":{"pid":4242}})");
}

TEST(SetActivityTest, NonceIsADecimalString) {
    EXPECT_EQ(SetActivity(0, 1, nullptr), R"({"nonce":"0","cmd":"SET_ACTIVITY","args":{"pid":1}})");
    EXPECT_EQ(SetActivity(-7, 1, nullptr), R"({"nonce":"-7","cmd":"SET_ACTIVITY","args":{"pid":1}})");
    EXPECT_EQ(SetActivity(-2147483647 - 1, 1, nullptr),
              R"({"nonce":"-2147483648","cmd":"SET_ACTIVITY","args":{"pid":1}})");
    EXPECT_EQ(SetActivity(2147483647, 1, nullptr), R"({"nonce":"2147483647","cmd":"SET_ACTIVITY","args":{"pid":1}})");
}

TEST(SetActivityTest, LongRequestIsCutAtTheCapacity) {
    std::string longText(6000, 'x');
    RichPresence presence = Presence([&](RichPresence& p) {
        p.state = longText.c_str(), p.details = longText.c_str(), p.largeImageText = longText.c_str();
    });
    std::string whole = SetActivity(9, 77, &presence, 32768);
    ASSERT_GT(whole.size(), 18000u);

    // The bytes past the capacity must stay untouched.
    std::string buffer(kRequestCapacity + 64, '#');
    std::size_t length = build_set_activity(&buffer[0], kRequestCapacity, 9, 77, &presence);
    EXPECT_EQ(length, kRequestCapacity);
    EXPECT_EQ(buffer.substr(0, length), whole.substr(0, kRequestCapacity));
    EXPECT_EQ(buffer.substr(kRequestCapacity), std::string(64, '#'));
}

TEST(SetActivityTest, TinyCapacities) {
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(build_set_activity(buffer, 0, 1, 1, nullptr), 0u);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(build_set_activity(buffer, 3, 1, 1, nullptr), 3u);
    EXPECT_EQ(std::string(buffer, 4), "{\"n#");
}

TEST(HandshakeTest, VersionAndApplicationId) {
    char buffer[256];
    std::size_t length = build_handshake(buffer, sizeof buffer, 1, "123");
    EXPECT_EQ(std::string(buffer, length), R"({"v":1,"client_id":"123"})");
    length = build_handshake(buffer, sizeof buffer, -3, "a\"b");
    EXPECT_EQ(std::string(buffer, length), R"({"v":-3,"client_id":"a\"b"})");
}

TEST(SubscribeTest, NonceCommandEvent) {
    char buffer[256];
    std::size_t length = build_subscribe(buffer, sizeof buffer, 3, "ACTIVITY_JOIN_REQUEST");
    EXPECT_EQ(std::string(buffer, length), R"({"nonce":"3","cmd":"SUBSCRIBE","evt":"ACTIVITY_JOIN_REQUEST"})");
}

TEST(JoinReplyTest, OnlyYesInvitesAndTheNonceComesLast) {
    struct {
        int answer;
        const char* text;
    } const cases[] = {
        {0, R"({"cmd":"CLOSE_ACTIVITY_JOIN_REQUEST","args":{"user_id":"53908232506183680"},"nonce":"5"})"},
        {1, R"({"cmd":"SEND_ACTIVITY_JOIN_INVITE","args":{"user_id":"53908232506183680"},"nonce":"5"})"},
        {2, R"({"cmd":"CLOSE_ACTIVITY_JOIN_REQUEST","args":{"user_id":"53908232506183680"},"nonce":"5"})"},
        {-1, R"({"cmd":"CLOSE_ACTIVITY_JOIN_REQUEST","args":{"user_id":"53908232506183680"},"nonce":"5"})"},
    };
    for (const auto& c : cases) {
        char buffer[256];
        std::size_t length = build_join_reply(buffer, sizeof buffer, "53908232506183680", c.answer, 5);
        EXPECT_EQ(std::string(buffer, length), c.text) << "answer " << c.answer;
    }
}

// The only test of this program that takes nonces, so the counter starts fresh.
TEST(NonceTest, StartsAtOneAndNeverRepeatsAcrossThreads) {
    EXPECT_EQ(take_nonce(), 1);
    constexpr int kThreads = 4;
    constexpr int kEach = 5000;
    std::vector<std::vector<std::int32_t>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&taken, t] {
            for (int i = 0; i < kEach; ++i) taken[t].push_back(take_nonce());
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::vector<std::int32_t> all;
    for (const auto& values : taken) all.insert(all.end(), values.begin(), values.end());
    std::sort(all.begin(), all.end());
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<std::int32_t>(i + 2));
}

}  // namespace
