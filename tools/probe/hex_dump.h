#pragma once
// A hex dump for a terminal: 16 bytes a line, each line starting with the
// target address of its first byte, then the bytes in hex, then the
// printable ones as characters ("." for the others).

#include <cstdint>
#include <string>

std::string HexDump(std::uint64_t address, const std::uint8_t* bytes, std::size_t size);
