// The typed values of `scan` and `rescan`: their text, where they are found
// in memory, how a change is judged, and the file that keeps candidates.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tools/probe/candidate_file.h"
#include "tools/probe/value_search.h"

namespace {

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

SearchValue Value(const char* type, const char* text) {
    SearchValue value;
    std::string error;
    EXPECT_TRUE(ParseSearchValue(*ParseValueType(type), text, value, error)) << type << " " << text << ": " << error;
    return value;
}

TEST(ValueSearch, ValueTextsAndTheirBytes) {
    const struct {
        const char* type;
        const char* text;
        const char* bytes;  // null: refused
    } cases[] = {
        {"u8", "255", "ff"},
        {"u8", "256", nullptr},
        {"u8", "-1", nullptr},
        {"u8", "-0", "00"},
        {"i8", "-128", "80"},
        {"i8", "127", "7f"},
        {"i8", "128", nullptr},
        {"i8", "-129", nullptr},
        {"i16", "-2", "feff"},
        {"u16", "65536", nullptr},
        {"u32", "0x10", "10000000"},
        {"i32", "-2147483648", "00000080"},
        {"i32", "2147483648", nullptr},
        {"u64", "18446744073709551615", "ffffffffffffffff"},
        {"u64", "18446744073709551616", nullptr},
        {"i64", "-9223372036854775808", "0000000000000080"},
        {"i64", "9223372036854775808", nullptr},
        {"i32", "1.5", nullptr},
        {"i32", "", nullptr},
        {"u16", "12a", nullptr},
        {"i32", "- 1", nullptr},
        {"f32", "2.5", "00000000"},  // floats are compared as numbers, not bytes
        {"f32", "abc", nullptr},
        {"f32", "1e3", nullptr},
        {"f32", "1.", nullptr},
        {"f32", "1000000000000000000000000000000000000000", nullptr},  // beyond a float
        {"f64", "1000000000000000000000000000000000000000", "0000000000000000"},
        {"utf8", "h\xc3\xa9", "68c3a9"},
        {"utf16", "h\xc3\xa9", "6800e900"},
        {"utf16", "\xf0\x9f\x98\x80", "3dd800de"},  // beyond the first plane: a surrogate pair
        {"utf8", "", nullptr},
        {"utf8", "\xff", nullptr},
        {"utf8", "\xc3", nullptr},          // cut short
        {"utf8", "\xc0\xaf", nullptr},      // an overlong form
        {"utf16", "\xed\xa0\x80", nullptr}, // a surrogate written as UTF-8
    };
    for (const auto& c : cases) {
        SearchValue value;
        std::string error;
        const bool parsed = ParseSearchValue(*ParseValueType(c.type), c.text, value, error);
        EXPECT_EQ(parsed, c.bytes != nullptr) << c.type << " " << c.text << ": " << error;
        if (parsed && c.bytes != nullptr) {
            EXPECT_EQ(HexBytes(value.bytes), c.bytes) << c.type << " " << c.text;
        } else if (!parsed) {
            EXPECT_FALSE(error.empty()) << c.type << " " << c.text;
        }
    }
    EXPECT_FALSE(ParseValueType("int"));
}

// Every aligned place where the bytes lie, from `from` on: what FindValue
// must return, whatever path it takes.
std::vector<std::size_t> EveryAlignedPlace(const SearchValue& value, std::uint64_t address,
                                           const std::vector<std::uint8_t>& data, std::size_t from) {
    std::vector<std::size_t> places;
    const std::size_t size = ValueSize(value);
    for (std::size_t at = from; at + size <= data.size(); ++at) {
        if ((address + at) % ValueAlignment(value.type) == 0 && std::memcmp(&data[at], value.bytes.data(), size) == 0) {
            places.push_back(at);
        }
    }
    return places;
}

// Memory of few distinct bytes, so that small values occur often, with the
// value also written at places that meet the 64-byte blocks' edges and the
// buffer's ends, aligned and not.
TEST(ValueSearch, FindsExactlyTheAlignedPlacesOfAValue) {
    std::mt19937 random(7);
    const char* const values[][2] = {{"u8", "1"},         {"i16", "257"},     {"u32", "0x01000100"},
                                     {"i64", "72057594037927937"}, {"utf8", "\x01\x01"}, {"utf16", "\xc4\x81"}};
    for (const auto& typed : values) {
        const SearchValue value = Value(typed[0], typed[1]);
        for (std::uint64_t address : {0x10000ull, 0x10001ull, 0x10006ull}) {
            std::vector<std::uint8_t> data(1000);
            for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random() % 3 == 0);
            for (std::size_t at : {std::size_t{0}, std::size_t{56}, std::size_t{60}, std::size_t{63}, std::size_t{64},
                                   std::size_t{120}, std::size_t{128}, std::size_t{992}, 1000 - ValueSize(value)}) {
                std::memcpy(&data[at], value.bytes.data(), ValueSize(value));
            }
            for (std::size_t from : {std::size_t{0}, std::size_t{3}, std::size_t{64}}) {
                std::vector<std::size_t> found;
                FindValue(value, address, data.data(), data.size(), from, found);
                EXPECT_EQ(found, EveryAlignedPlace(value, address, data, from))
                    << typed[0] << " at " << std::hex << address << " from " << from;
            }
        }
    }
}

TEST(ValueSearch, FloatsMatchWithinHalfAUnitOfTheLastDigitGiven) {
    const struct {
        const char* type;
        const char* text;
        double held;
        bool matches;
    } cases[] = {
        {"f32", "2.5", 2.46, true},  {"f32", "2.5", 2.54, true},  {"f32", "2.5", 2.56, false},
        {"f32", "2.5", -2.5, false}, {"f64", "100", 99.6, true},  {"f64", "100", 100.6, false},
        {"f64", "-0.125", -0.1254, true}, {"f64", "-0.125", -0.1256, false},
    };
    for (const auto& c : cases) {
        const SearchValue value = Value(c.type, c.text);
        std::uint8_t bytes[8];
        if (std::string(c.type) == "f32") {
            const float held = static_cast<float>(c.held);
            std::memcpy(bytes, &held, sizeof held);
        } else {
            std::memcpy(bytes, &c.held, sizeof c.held);
        }
        EXPECT_EQ(HoldsValue(value, bytes), c.matches) << c.type << " " << c.text << " against " << c.held;
        std::vector<std::uint8_t> memory(16, 0);
        std::memcpy(&memory[8], bytes, ValueSize(value) == 4 ? 4 : 8);
        std::vector<std::size_t> found;
        FindValue(value, 0x1000, memory.data(), memory.size(), 0, found);
        EXPECT_EQ(found, c.matches ? std::vector<std::size_t>{8} : std::vector<std::size_t>{}) << c.text;
    }
}

TEST(ValueSearch, ChangesAreJudgedAsTheTypeReadsTheNumbers) {
    const struct {
        const char* type;
        std::vector<std::uint8_t> before;
        std::vector<std::uint8_t> now;
        bool changed, increased, decreased;
    } cases[] = {
        {"u8", {0xff}, {0x01}, true, false, true},
        {"i8", {0xff}, {0x01}, true, true, false},  // -1 to 1
        {"u16", {0x00, 0x01}, {0xff, 0x00}, true, false, true},  // 256 to 255: the high byte counts
        {"i64", {0, 0, 0, 0, 0, 0, 0, 0x80}, {0, 0, 0, 0, 0, 0, 0, 0}, true, true, false},
        {"u32", {1, 2, 3, 4}, {1, 2, 3, 4}, false, false, false},
        {"f32", {0x00, 0x00, 0xc0, 0x3f}, {0x00, 0x00, 0x00, 0xc0}, true, false, true},  // 1.5 to -2
        {"utf8", {'a', 'b'}, {'a', 'c'}, true, false, false},
    };
    for (const auto& c : cases) {
        const ValueType type = *ParseValueType(c.type);
        const std::size_t size = c.before.size();
        EXPECT_EQ(HasChanged(type, Change::Changed, c.before.data(), c.now.data(), size), c.changed) << c.type;
        EXPECT_EQ(HasChanged(type, Change::Unchanged, c.before.data(), c.now.data(), size), !c.changed) << c.type;
        EXPECT_EQ(HasChanged(type, Change::Increased, c.before.data(), c.now.data(), size), c.increased) << c.type;
        EXPECT_EQ(HasChanged(type, Change::Decreased, c.before.data(), c.now.data(), size), c.decreased) << c.type;
    }
}

TEST(CandidateFile, KeepsTheSetAndRefusesWhatIsNotAWholeFile) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("candidates-" + std::to_string(std::random_device{}()))).string();
    CandidateSet set;
    set.pid = 4321;
    set.type = ValueType::I16;
    set.valueSize = 2;
    set.addresses = {0x1000, 0x7ffff0001002};
    set.values = {0x01, 0x02, 0xfe, 0xff};
    std::string error;
    ASSERT_TRUE(SaveCandidates(path, set, error)) << error;
    CandidateSet loaded;
    ASSERT_TRUE(LoadCandidates(path, loaded, error)) << error;
    EXPECT_EQ(loaded.pid, set.pid);
    EXPECT_EQ(loaded.type, set.type);
    EXPECT_EQ(loaded.addresses, set.addresses);
    EXPECT_EQ(loaded.values, set.values);

    // One byte short, and one byte too many: both refused, nothing half read.
    const auto size = std::filesystem::file_size(path);
    for (std::uintmax_t cut : {size - 1, size + 1}) {
        std::filesystem::resize_file(path, cut);
        CandidateSet broken;
        EXPECT_FALSE(LoadCandidates(path, broken, error)) << cut;
        EXPECT_NE(error.find("not a candidate file"), std::string::npos) << error;
    }
    std::filesystem::remove(path);
    EXPECT_FALSE(LoadCandidates(path, loaded, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
}

}  // namespace
