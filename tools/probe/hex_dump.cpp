#include "tools/probe/hex_dump.h"

#include <algorithm>
#include <cstdio>

#include "tools/probe/command_support.h"

namespace {

constexpr std::size_t kBytesPerLine = 16;

}  // namespace

std::string HexDump(std::uint64_t address, const std::uint8_t* bytes, std::size_t size) {
    std::string dump;
    for (std::size_t line = 0; line < size; line += kBytesPerLine) {
        std::string at = HexAddress(address + line);
        at.resize(std::max<std::size_t>(at.size(), 18), ' ');
        dump += at;
        std::string printable;
        for (std::size_t i = 0; i < kBytesPerLine; ++i) {
            if (i == kBytesPerLine / 2) dump += ' ';
            if (line + i < size) {
                const std::uint8_t byte = bytes[line + i];
                char column[4];
                std::snprintf(column, sizeof column, " %02x", byte);
                dump += column;
                printable += byte >= 0x20 && byte < 0x7f ? static_cast<char>(byte) : '.';
            } else {
                dump += "   ";
            }
        }
        dump += "  |" + printable + "|\n";
    }
    return dump;
}
