#pragma once
// Application ids that the one application-id rule accepts or refuses, for
// the tests of each of its users: the rule itself, the companion, the addon's
// launch code and launch registration. Each id names a script
// "scripts/<id>.lua"; `why` says what the case is about.

#include <string>
#include <vector>

struct ApplicationIdCase {
    std::string id;
    bool accepted;
    const char* why;
};

inline const std::vector<ApplicationIdCase>& ApplicationIdCases() {
    static const std::vector<ApplicationIdCase> cases = {
        {"300000000000000001", true, "decimal digits, as ids are in practice"},
        {"a b", true, "a space inside"},
        {"v1..2", true, "dots inside are no path component"},
        {".x", true, "a leading dot"},
        {"", true, "the empty id names \".lua\""},
        {"J\xC3\xBCrgen \xF0\x9F\x98\x80", true, "characters beyond ASCII and beyond the BMP"},
        {"\xE6\x97\xA5\xE6\x9C\xAC-1", true, "characters beyond Latin-1"},
        {"COM10", true, "a port name with two digits is a file"},
        {"LPT", true, "no digit"},
        {"CONSOLE", true, "longer than a device name"},
        {"xNUL", true, "a device name inside"},
        {"COM1x.lua", true, "a device name and more before the first dot"},
        {std::string(247, '7'), true, "the longest id: the path keeps its \".lua\""},

        {"CON", false, "a device name"},
        {"con", false, "a device name in lower case"},
        {"Aux.txt", false, "a device name with an extension"},
        {"nul.tar.gz", false, "a device name with two extensions"},
        {"PRN", false, "a device name"},
        {"COM0", false, "a serial port"},
        {"com9", false, "a serial port in lower case"},
        {"LPT1.x", false, "a printer port with an extension"},
        {"COM\xC2\xB9", false, "a serial port with a superscript 1"},
        {"lpt\xC2\xB2", false, "a printer port with a superscript 2"},
        {"COM\xC2\xB3.x", false, "a serial port with a superscript 3 and an extension"},
        {"CONIN$", false, "the console's input"},
        {"conout$", false, "the console's output"},
        {"CON .x", false, "a device name before spaces and an extension"},
        {"x.", false, "a trailing dot"},
        {"x ", false, "a trailing space"},
        {".", false, "a single dot"},
        {"..", false, "the parent directory"},
        {"../x", false, "a slash"},
        {"a\\b", false, "a backslash"},
        {"C:x", false, "a drive colon"},
        {"a*b", false, "a wildcard"},
        {"a?b", false, "a wildcard"},
        {"a\"b", false, "a double quote"},
        {"a<b", false, "a character no Windows name holds"},
        {"a|b", false, "a character no Windows name holds"},
        {std::string("a\0b", 3), false, "a zero byte"},
        {"a\x01" "b", false, "a control character"},
        {"a\tb", false, "a tab"},
        {"a\x7F", false, "DEL"},
        {"a\xC2\x85" "b", false, "a C1 control character"},
        {"a\xFF", false, "a byte that is not UTF-8"},
        {"a\xC3", false, "a cut UTF-8 sequence"},
        {"\xED\xA0\x80", false, "a surrogate in UTF-8"},
        {"\xC0\xAF", false, "an overlong slash"},
        {std::string(248, '7'), false, "so long that the path would lose its \".lua\""},
    };
    return cases;
}
