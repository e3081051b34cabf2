// target_child: a real process whose memory a test lays out, for tests that
// read and scan another process (target access, the script host's memory
// functions) and for benchmarks.
//
// Usage: target_child BLOCK...
//
// Each BLOCK is one allocation of consecutive pages, described by items
// separated by commas, applied in this order whatever their order in BLOCK:
//   PROTECTION*PAGES  a run of pages; the runs, in order, make up the block
//   fill=HH           every byte of the block set to the hex byte HH
//   random=SEED       every byte pseudo-random in 00..FE, from the decimal
//                     SEED; never FF, so a pattern holding FF never occurs
//   @OFFSET=HEX       the hex bytes written at byte OFFSET of the block
//                     (decimal, or hex with 0x)
// Bytes are written first, protections applied after. Protections:
//   r rw rx rwx none  read, read-write, execute-read, all, no access
//   guard guard-rx    read-write or execute-read with the guard bit on
//                     Windows; no access elsewhere
// Example: "rw*1,rx*1,@4094=c3c3c3c3" is a read-write page followed by an
// executable page, with four bytes across their border.
//
// Output, one line each, hex numbers without prefix:
//   page SIZE
//   module exe BASE INSIDE NAME   the program itself (INSIDE: code in it)
//   module lib BASE INSIDE NAME   a system library it has loaded
//   block INDEX ADDRESS SIZE      one per BLOCK, in order
//   ready
// Then it waits until its standard input closes and exits with 0. A bad
// argument or a failed allocation prints "error TEXT" and exits with 2.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/target_child_memory.h"

namespace {

struct PageRun {
    PageProtection protection;
    std::size_t pages;
};

struct Write {
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
};

struct Block {
    std::vector<PageRun> runs;
    std::vector<Write> writes;
    bool fill = false;
    std::uint8_t fillByte = 0;
    bool random = false;
    std::uint64_t seed = 0;
    std::uint8_t* address = nullptr;
    std::size_t size = 0;
};

[[noreturn]] void Fail(const std::string& text) {
    std::printf("error %s\n", text.c_str());
    std::fflush(stdout);
    std::exit(2);
}

bool ParseProtection(const std::string& text, PageProtection& protection) {
    static const struct {
        const char* name;
        PageProtection protection;
    } kNames[] = {{"r", PageProtection::Read},
                  {"rw", PageProtection::ReadWrite},
                  {"rx", PageProtection::ReadExecute},
                  {"rwx", PageProtection::ReadWriteExecute},
                  {"none", PageProtection::NoAccess},
                  {"guard", PageProtection::Guard},
                  {"guard-rx", PageProtection::GuardExecute}};
    for (const auto& entry : kNames) {
        if (text == entry.name) {
            protection = entry.protection;
            return true;
        }
    }
    return false;
}

bool ParseNumber(const std::string& text, int base, std::uint64_t& value) {
    if (text.empty()) return false;
    char* end;
    value = std::strtoull(text.c_str(), &end, base);
    return *end == '\0';
}

bool ParseHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
    if (text.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        std::uint64_t value;
        if (!ParseNumber(text.substr(i, 2), 16, value)) return false;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return true;
}

bool ParseItem(const std::string& item, Block& block) {
    const std::size_t star = item.find('*');
    const std::size_t equals = item.find('=');
    std::uint64_t number;
    if (star != std::string::npos) {
        PageRun run;
        if (!ParseProtection(item.substr(0, star), run.protection) ||
            !ParseNumber(item.substr(star + 1), 10, number) || number == 0) {
            return false;
        }
        run.pages = static_cast<std::size_t>(number);
        block.runs.push_back(run);
        return true;
    }
    if (equals == std::string::npos) return false;
    const std::string key = item.substr(0, equals);
    const std::string value = item.substr(equals + 1);
    if (key == "fill") {
        std::vector<std::uint8_t> bytes;
        if (!ParseHex(value, bytes) || bytes.size() != 1) return false;
        block.fill = true;
        block.fillByte = bytes[0];
        return true;
    }
    if (key == "random") {
        block.random = true;
        return ParseNumber(value, 10, block.seed);
    }
    if (key.size() > 1 && key[0] == '@') {
        Write write;
        if (!ParseNumber(key.substr(1), 0, number) || !ParseHex(value, write.bytes)) return false;
        write.offset = static_cast<std::size_t>(number);
        block.writes.push_back(write);
        return true;
    }
    return false;
}

Block ParseBlock(const std::string& text) {
    Block block;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t comma = text.find(',', from);
        if (comma == std::string::npos) comma = text.size();
        if (!ParseItem(text.substr(from, comma - from), block)) Fail("bad block item in: " + text);
        from = comma + 1;
    }
    if (block.runs.empty()) Fail("block without pages: " + text);
    return block;
}

// splitmix64: fast, and the same bytes for the same seed everywhere.
void FillRandom(std::uint8_t* bytes, std::size_t size, std::uint64_t seed) {
    std::uint64_t state = seed;
    for (std::size_t i = 0; i < size; ++i) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        bytes[i] = static_cast<std::uint8_t>(z % 0xFF);
    }
}

void LayOut(Block& block) {
    const std::size_t page = PageSize();
    for (const PageRun& run : block.runs) block.size += run.pages * page;
    block.address = static_cast<std::uint8_t*>(AllocatePages(block.size));
    if (block.address == nullptr) Fail("cannot allocate");
    if (block.fill) std::memset(block.address, block.fillByte, block.size);
    if (block.random) FillRandom(block.address, block.size, block.seed);
    for (const Write& write : block.writes) {
        if (write.offset > block.size || write.bytes.size() > block.size - write.offset)
            Fail("write past the block");
        std::memcpy(block.address + write.offset, write.bytes.data(), write.bytes.size());
    }
    std::uint8_t* run = block.address;
    for (const PageRun& each : block.runs) {
        if (!ProtectPages(run, each.pages * page, each.protection)) Fail("cannot protect");
        run += each.pages * page;
    }
}

void PrintModule(const char* kind, bool (*facts)(ModuleFacts&)) {
    ModuleFacts module;
    if (!facts(module)) Fail(std::string("no module facts: ") + kind);
    std::printf("module %s %llx %llx %s\n", kind, static_cast<unsigned long long>(module.base),
                static_cast<unsigned long long>(module.inside), module.name.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Block> blocks;
    for (int i = 1; i < argc; ++i) blocks.push_back(ParseBlock(argv[i]));
    for (Block& block : blocks) LayOut(block);

    std::printf("page %llx\n", static_cast<unsigned long long>(PageSize()));
    PrintModule("exe", ExecutableModule);
    PrintModule("lib", LibraryModule);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        std::printf("block %llu %llx %llx\n", static_cast<unsigned long long>(i),
                    static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(blocks[i].address)),
                    static_cast<unsigned long long>(blocks[i].size));
    }
    std::printf("ready\n");
    std::fflush(stdout);

    while (std::getchar() != EOF) {
    }
    return 0;
}
