// Text made valid UTF-8 for the probe's JSON: well-formed text kept as it
// is, every byte outside a well-formed sequence replaced.
#include "tools/probe/utf8_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(ValidUtf8, KeepsWellFormedTextAndReplacesEveryOtherByte) {
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"scripts/300.lua", "scripts/300.lua"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAE \xF4\x8F\xBF\xBF", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAE \xF4\x8F\xBF\xBF"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
        {"\xFF\xFE", r + r},                      // never in UTF-8
        {"caf\xE9.lua", "caf" + r + ".lua"},      // Latin-1
        {"\xC3", r},                              // cut at the end
        {"\xE2\x82x", r + r + "x"},               // cut before another character
        {"\xC0\xAF", r + r},                      // overlong '/'
        {"\xE0\x80\xAF", r + r + r},              // overlong, three bytes
        {"\xED\xA0\x80", r + r + r},              // a surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},      // above U+10FFFF
        {"\x80q", r + "q"},                       // a lone continuation byte
    };
    for (const auto& c : cases) EXPECT_EQ(ValidUtf8(c.first), c.second) << c.first;
}

}  // namespace
