#include "rpc/message_document.h"

#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <rapidjson/reader.h>

namespace {

// How many values the fixed parse stack holds at once.
constexpr std::size_t kStackValues = FixedBumpAllocator::kCapacity / sizeof(MessageValue);

// Parses a copy of `text` that stays alive until the next call, since the
// document's strings point into it.
bool Parse(MessageDocument& document, const std::string& text) {
    static std::string storage;
    storage = text;
    return document.ParseInPlace(&storage[0], storage.size());
}

bool IsEmptyObject(const MessageDocument& document) {
    return document.IsObject() && document.MemberCount() == 0;
}

std::string Nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string FlatObject(std::size_t members) {
    std::string text = "{";
    for (std::size_t i = 0; i < members; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    return text + "}";
}

TEST(MessageDocumentTest, ParsesInPlaceAndStringsPointIntoTheText) {
    char text[] = R"({"cmd":"DISPATCH","evt":"READY","data":{"v":1,"q":"a\"b"}})";
    MessageDocument document;
    ASSERT_TRUE(document.ParseInPlace(text));
    ASSERT_TRUE(document.IsObject());
    const MessageValue* cmd = StringMember(document, "cmd");
    ASSERT_NE(cmd, nullptr);
    EXPECT_GE(cmd->GetString(), text);
    EXPECT_LT(cmd->GetString(), text + sizeof text);
    EXPECT_TRUE(StringMemberEquals(document, "evt", "READY"));
    const MessageValue* data = Member(document, "data");
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(StringMemberEquals(*data, "q", "a\"b"));
    EXPECT_EQ(Member(*data, "v")->GetInt(), 1);
}

TEST(MessageDocumentTest, FailuresLeaveAnEmptyObject) {
    const char* const failures[] = {
        "", "   ", "not json", "{\"a\":", "{\"a\":1} trailing", "{\"a\":1}{}", "{'a':1}", "[1,]", "{\"a\":\"\x01\"}",
    };
    for (const char* text : failures) {
        MessageDocument document;
        EXPECT_FALSE(Parse(document, text)) << text;
        EXPECT_TRUE(IsEmptyObject(document)) << text;
    }
}

TEST(MessageDocumentTest, ANulByteInsideTheTextIsNotJson) {
    MessageDocument document;
    EXPECT_FALSE(Parse(document, std::string("{\"a\":1}\0{\"b\":2}", 15)));
    EXPECT_TRUE(IsEmptyObject(document));
    EXPECT_TRUE(Parse(document, "{\"a\":\"x\\u0000y\"}"));  // an escaped NUL is fine
    EXPECT_EQ(Member(document, "a")->GetStringLength(), 3u);
}

TEST(MessageDocumentTest, OtherRootValuesParse) {
    MessageDocument document;
    EXPECT_TRUE(Parse(document, "[\"DISPATCH\",\"READY\"]"));
    EXPECT_TRUE(document.IsArray());
    EXPECT_EQ(StringMember(document, "cmd"), nullptr);  // not an object: every member counts as missing
    EXPECT_TRUE(Parse(document, " 42 "));
    EXPECT_TRUE(document.IsInt());
}

TEST(MessageDocumentTest, StringMembersAreComparedByTheirBytes) {
    MessageDocument document;
    ASSERT_TRUE(Parse(document, R"({"a":"READY\u0000","b":7,"c":"READY"})"));
    EXPECT_FALSE(StringMemberEquals(document, "a", "READY"));
    EXPECT_FALSE(StringMemberEquals(document, "b", "7"));
    EXPECT_FALSE(StringMemberEquals(document, "missing", "READY"));
    EXPECT_TRUE(StringMemberEquals(document, "c", "READY"));
    EXPECT_FALSE(StringMemberEquals(document, "c", "READ"));
}

TEST(MessageDocumentTest, TheSameDocumentParsesAgain) {
    MessageDocument document;
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(Parse(document, FlatObject(20))) << "round " << round;
        EXPECT_EQ(document.MemberCount(), 20u);
        ASSERT_FALSE(Parse(document, Nested(kStackValues + 1)));
    }
}

TEST(MessageDocumentTest, NestingUpToTheFixedStackParsesAndDeeperIsRefused) {
    MessageDocument document;
    EXPECT_TRUE(Parse(document, Nested(kStackValues)));
    EXPECT_TRUE(document.IsArray());
    for (std::size_t depth : {kStackValues + 1, std::size_t{5000}, std::size_t{65000}}) {
        EXPECT_FALSE(Parse(document, Nested(depth))) << depth;
        EXPECT_TRUE(IsEmptyObject(document)) << depth;
        EXPECT_FALSE(Parse(document, std::string(depth, '{'))) << depth;
    }
}

// The stack holds the values still waiting for their container to close, so
// a wide object runs out of room as surely as a deep one.
TEST(MessageDocumentTest, WidthCountsLikeDepth) {
    std::size_t fitting = (kStackValues - 1) / 2;  // the object itself, then a key and a value per member
    MessageDocument document;
    EXPECT_TRUE(Parse(document, FlatObject(fitting)));
    EXPECT_EQ(document.MemberCount(), fitting);
    EXPECT_FALSE(Parse(document, FlatObject(fitting + 1)));
    EXPECT_TRUE(IsEmptyObject(document));
}

TEST(MessageDocumentTest, BracketsInsideStringsDoNotCount) {
    std::string brackets(3 * kStackValues, '[');
    MessageDocument document;
    EXPECT_TRUE(Parse(document, "{\"a\":\"" + brackets + "\",\"b\":\"\\\"" + brackets + "\\\\\"}"));
    EXPECT_EQ(document.MemberCount(), 2u);
}

// Counts what the document's parse stack holds while the library's own reader
// walks a text: one entry per value read, containers collapsing on close.
struct StackDepthCounter : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, StackDepthCounter> {
    std::size_t pending = 0;
    std::size_t deepest = 0;
    bool Default() {
        deepest = std::max(deepest, ++pending);
        return true;
    }
    bool StartObject() { return Default(); }
    bool StartArray() { return Default(); }
    bool EndObject(rapidjson::SizeType members) {
        pending -= 2 * members;
        return true;
    }
    bool EndArray(rapidjson::SizeType elements) {
        pending -= elements;
        return true;
    }
};

std::string RandomPrimitive(std::mt19937& random) {
    switch (random() % 4) {
    case 0: return std::to_string(random() % 100000);
    case 1: return "\"s{[\\\"]\"";
    case 2: return "-1.5e3";
    default: return random() % 2 ? "true" : "null";
    }
}

// A container of primitives holding, unless it is the innermost, one more
// such container at a random place: the text stays small while the stack it
// needs ranges well over and under the limit.
std::string RandomSpine(std::mt19937& random, int levels) {
    bool object = random() % 2 == 0;
    int count = static_cast<int>(random() % 13);
    int nestedAt = levels > 0 ? static_cast<int>(random() % (count + 1)) : -1;
    std::string text = object ? "{" : "[";
    for (int i = 0; i <= count; ++i) {
        if (i == count && i != nestedAt) break;
        if (i > 0) text += ", ";
        if (object) text += "\"k" + std::to_string(i) + "\" : ";
        text += i == nestedAt ? RandomSpine(random, levels - 1) : RandomPrimitive(random);
    }
    return text + (object ? "}" : "]");
}

std::size_t StackNeededBy(const std::string& text) {
    StackDepthCounter counter;
    rapidjson::Reader reader;
    rapidjson::StringStream stream(text.c_str());
    EXPECT_FALSE(reader.Parse(stream, counter).IsError()) << text;
    return counter.deepest;
}

std::string Repeated(const std::string& open, const std::string& item, std::size_t count, const std::string& close) {
    std::string text = open;
    for (std::size_t i = 0; i < count; ++i) text += (i ? "," : "") + item;
    return text + close;
}

// Shapes whose need grows with n, checked on both sides of the limit;
// several put the deepest point after containers have closed.
TEST(MessageDocumentTest, LimitIsExactForEveryShape) {
    std::function<std::string(std::size_t)> const shapes[] = {
        [](std::size_t n) { return Nested(n); },
        [](std::size_t n) { return FlatObject(n); },
        [](std::size_t n) { return Repeated("[", "[]", n, "]"); },
        [](std::size_t n) { return Repeated("[", R"({"a":[1,{"b":2}]})", n, "]"); },
        [](std::size_t n) { return Repeated(R"({"x":{"a":[1,2,3]},"y":[)", R"("s]")", n, "]}"); },
        [](std::size_t n) { return std::string(n / 3, '[') + Repeated("[", "{}", n, "]") + std::string(n / 3, ']'); },
    };
    for (const auto& shape : shapes) {
        for (std::size_t n = 1; n < 2 * kStackValues; ++n) {
            std::string text = shape(n);
            MessageDocument document;
            ASSERT_EQ(Parse(document, text), StackNeededBy(text) <= kStackValues) << text;
        }
    }
}

// The check before parsing must agree exactly with what the parser needs:
// every valid text that fits is parsed, every one that does not is refused.
TEST(MessageDocumentTest, RefusesExactlyWhatTheStackCannotHold) {
    std::mt19937 random(20240611);
    int fitting = 0, refused = 0;
    for (int i = 0; i < 600; ++i) {
        std::string text = RandomSpine(random, static_cast<int>(random() % 25));
        std::size_t needed = StackNeededBy(text);
        MessageDocument document;
        bool fits = needed <= kStackValues;
        EXPECT_EQ(Parse(document, text), fits) << "needs " << needed << ": " << text;
        (fits ? fitting : refused)++;
    }
    EXPECT_GT(fitting, 50);
    EXPECT_GT(refused, 50);
}

}  // namespace
