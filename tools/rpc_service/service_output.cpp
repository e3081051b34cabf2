#include "tools/rpc_service/service_output.h"

#include <cstdio>

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintFrame(const char* verb, std::uint32_t opcode, const std::string& payload) {
    std::string line = std::string(verb) + " " + std::to_string(opcode) + " ";
    for (unsigned char ch : payload) {
        if (ch < 0x20 || ch == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", ch);
            line += escaped;
        } else {
            line += static_cast<char>(ch);
        }
    }
    PrintLine(line);
}
