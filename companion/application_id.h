#pragma once
// What an application id may be: one rule for the addon (before it asks for
// a script or starts a companion), the companion (before it loads a script)
// and launch registration. The id names the game's script,
// "scripts/<id>.lua" below the companion directory, on Windows and on Linux
// alike, and is the RPC client id; an id that passes names exactly the file
// that the companion loads, and no file anywhere else. Ids are decimal digits
// in practice. An id is refused when
//  - it is not UTF-8, or holds a control character (C0, DEL or C1; a zero
//    byte would cut it short at the system boundary);
//  - it holds a character that no Windows file name may hold: the path
//    separators of either kind of system, the drive colon, * ? " < > |;
//  - it ends in a dot or a space, which Windows strips from a name (so
//    "." and ".." are refused too);
//  - its name before the first dot, spaces around it aside, is a Windows
//    device name in any case: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM or
//    LPT with a digit or a superscript 1, 2 or 3. "scripts\COM1.lua" and
//    "scripts\nul.x.lua" name devices, and opening a serial port can block;
//  - it is so long that "scripts/<id>.lua" would not fit the companion's
//    260-byte path buffer and lose its ".lua": at most 247 bytes.
// The empty id passes: it names the script ".lua".
//
// Header-only, since the addon's own build (node-gyp) compiles it too.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "companion/utf8_sequence.h"

// The companion's path buffer holds 259 bytes and a terminator; the path is
// "scripts/", the id and ".lua".
inline constexpr std::size_t kLongestApplicationId = 259 - 8 - 4;

namespace application_id_detail {

inline bool IsControl(std::uint32_t codePoint) { return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F); }

inline bool IsRefusedByWindowsNames(std::uint32_t codePoint) {
    return codePoint < 0x80 && std::string_view("/\\:*?\"<>|").find(static_cast<char>(codePoint)) != std::string_view::npos;
}

inline bool SameLetters(std::string_view text, std::string_view upperCase) {
    if (text.size() != upperCase.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
        if (c != upperCase[i]) return false;
    }
    return true;
}

// "COM" or "LPT" followed by one digit or one of the superscripts ¹ ² ³.
inline bool IsNumberedDevice(std::string_view name) {
    if (name.size() < 4 || !(SameLetters(name.substr(0, 3), "COM") || SameLetters(name.substr(0, 3), "LPT"))) {
        return false;
    }
    std::string_view number = name.substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

inline bool IsDeviceName(std::string_view id) {
    std::string_view name = id.substr(0, id.find('.'));
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (SameLetters(name, device)) return true;
    }
    return IsNumberedDevice(name);
}

}  // namespace application_id_detail

inline bool IsPlainApplicationId(std::string_view id) {
    using namespace application_id_detail;
    if (id.size() > kLongestApplicationId) return false;
    if (!id.empty() && (id.back() == '.' || id.back() == ' ')) return false;
    for (std::size_t at = 0; at < id.size();) {
        std::uint32_t codePoint = 0;
        if (!NextUtf8CodePoint(id, at, codePoint) || IsControl(codePoint) || IsRefusedByWindowsNames(codePoint)) {
            return false;
        }
    }
    return !IsDeviceName(id);
}
