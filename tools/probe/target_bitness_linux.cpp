// On Linux the program's ELF header says it: its class byte is 1 for 32-bit
// and 2 for 64-bit programs.
#include "tools/probe/target_bitness.h"

#include <cstdio>
#include <cstring>

std::optional<CodeBitness> TargetBitness(std::uint32_t pid) {
    char name[40];
    std::snprintf(name, sizeof name, "/proc/%u/exe", pid);
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return std::nullopt;
    unsigned char header[5] = {};
    const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::fclose(file);
    if (!read || std::memcmp(header, "\x7f" "ELF", 4) != 0) return std::nullopt;
    if (header[4] == 1) return CodeBitness::X86;
    if (header[4] == 2) return CodeBitness::X64;
    return std::nullopt;
}
