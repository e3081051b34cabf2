// The numbers the probe's command line accepts: what a mistyped argument
// must not be read as.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tools/probe/probe_arguments.h"

namespace {

template <typename T>
std::string Show(const std::optional<T>& value) {
    return value ? std::to_string(*value) : "refused";
}

TEST(ProbeArguments, AddressesAreDecimalOrHexadecimal) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "0"},
        {"4096", "4096"},
        {"0x1000", "4096"},
        {"0X1a2B", "6699"},
        {"0xffffffffffffffff", "18446744073709551615"},
        {"18446744073709551615", "18446744073709551615"},
        {"0x10000000000000000", "refused"},  // beyond 64 bits
        {"18446744073709551616", "refused"},
        {"", "refused"},
        {"0x", "refused"},
        {"-1", "refused"},
        {"+1", "refused"},
        {" 1", "refused"},
        {"1 ", "refused"},
        {"12ab", "refused"},  // hex digits without the prefix
        {"0x12g", "refused"},
        {"1e3", "refused"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Show(ParseAddress(text)), expected) << '"' << text << '"';
}

TEST(ProbeArguments, ProcessIdsCountsAndSeconds) {
    EXPECT_EQ(Show(ParseProcessId("4242")), "4242");
    EXPECT_EQ(Show(ParseProcessId("4294967295")), "4294967295");
    EXPECT_EQ(Show(ParseProcessId("4294967296")), "refused");
    EXPECT_EQ(Show(ParseProcessId("0")), "refused");
    EXPECT_EQ(Show(ParseProcessId("0x104")), "260");  // as winedbg prints them
    EXPECT_EQ(Show(ParseProcessId("0XFFFFFFFF")), "4294967295");
    EXPECT_EQ(Show(ParseProcessId("0x100000000")), "refused");
    EXPECT_EQ(Show(ParseProcessId("0x0")), "refused");
    EXPECT_EQ(Show(ParseProcessId("0x")), "refused");
    EXPECT_EQ(Show(ParseProcessId("-5")), "refused");
    EXPECT_EQ(Show(ParseCount("3")), "3");
    EXPECT_EQ(Show(ParseCount("0")), "refused");

    const std::pair<const char*, const char*> seconds[] = {
        {"15", "15000"}, {"0.5", "500"}, {".25", "250"}, {"2.", "2000"}, {"0.001", "1"},
        {"1.2345", "1234"},  // to the millisecond
        {"86400", "86400000"},
        {"86401", "refused"}, {"9999999", "refused"},  // beyond a day
        {"0", "refused"}, {"0.0004", "refused"},      // no time at all
        {"", "refused"}, {".", "refused"}, {"-1", "refused"}, {"1e3", "refused"}, {"1.5.2", "refused"},
    };
    for (const auto& [text, expected] : seconds) {
        EXPECT_EQ(Show(ParseSecondsAsMilliseconds(text)), expected) << '"' << text << '"';
    }
}

}  // namespace
