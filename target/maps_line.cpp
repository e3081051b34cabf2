// Parsing the lines of a Linux process's memory map (see maps_line.h).
#include "target/maps_line.h"

#include <cstdlib>
#include <cstring>

namespace detail {
namespace {

// Ends the field at `text` with a NUL and returns the start of the next one,
// after any run of blanks; null when no blank follows the field.
char* EndField(char* text) {
    char* blank = std::strchr(text, ' ');
    if (blank == nullptr) return nullptr;
    *blank++ = '\0';
    while (*blank == ' ') ++blank;
    return blank;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool ParseMapsLine(char* line, MapsLine& parsed) {
    if (!IsHexDigit(line[0])) return false;
    char* rest;
    parsed.start = std::strtoull(line, &rest, 16);
    if (*rest != '-' || !IsHexDigit(rest[1])) return false;
    parsed.end = std::strtoull(rest + 1, &rest, 16);
    if (*rest != ' ' || parsed.end <= parsed.start) return false;
    char* field = rest + 1;
    parsed.permissions = field;
    for (int skipped = 0; skipped < 3; ++skipped) {  // permissions, offset, device
        field = EndField(field);
        if (field == nullptr || *field == '\0') return false;
    }
    // `field` is the inode, which ends at the blanks before the path or at
    // the end of the line.
    char* path = EndField(field);
    parsed.path = path != nullptr ? path : "";
    return true;
}

bool ParseVmFlags(const char* line, bool& cannotBeRead) {
    static constexpr char kPrefix[] = "VmFlags:";
    if (std::strncmp(line, kPrefix, sizeof kPrefix - 1) != 0) return false;
    cannotBeRead = false;
    const char* flag = line + sizeof kPrefix - 1;
    while (*flag != '\0') {
        while (*flag == ' ') ++flag;
        const std::size_t length = std::strcspn(flag, " ");
        if (length == 2 && (std::strncmp(flag, "io", 2) == 0 || std::strncmp(flag, "pf", 2) == 0)) {
            cannotBeRead = true;
        }
        flag += length;
    }
    return true;
}

}  // namespace detail
