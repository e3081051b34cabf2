#pragma once
// The reference service's report on standard output: one line per event,
// flushed at once, ending in a single line feed on every platform.

#include <cstdint>
#include <string>

// Sets standard output up for the lines below (no CRLF translation).
void PrepareStandardOutput();

void PrintLine(const std::string& line);
// "frame OP BODY" or "sent OP BODY", with control bytes of BODY escaped.
void PrintFrame(const char* verb, std::uint32_t opcode, const std::string& payload);
