// target_child: a real process whose memory a test lays out, for tests that
// read and scan another process (target access, the script host's memory
// functions) and for benchmarks.
//
// Usage: target_child ARGUMENT...
//
// Each ARGUMENT is a BLOCK, or one of:
//   stack=HEX         the hex bytes (at most 64) in a buffer on the main
//                     thread's stack
//   churn             a thread that keeps mapping, protecting and unmapping
//                     pages, so the memory map changes all the time
//
// Each BLOCK is one allocation of consecutive pages, described by items
// separated by commas, applied in this order whatever their order in BLOCK:
//   PROTECTION*PAGES  a run of pages; the runs, in order, make up the block
//   repeat=N          the runs, in order, N times over (for blocks of
//                     thousands of mappings)
//   fill=HH           every byte of the block set to the hex byte HH
//   random=SEED       every byte pseudo-random in 00..FE, from the decimal
//                     SEED; never FF, so a pattern holding FF never occurs
//   @OFFSET=HEX       the hex bytes written at byte OFFSET of the block
//                     (decimal, or hex with 0x)
// Bytes are written first, protections applied after. The written bytes are
// then cleared from the child's own parsing, so they lie only where they
// were written: tests may search the whole process for them. Protections:
//   r rw rx rwx none  read, read-write, execute-read, all, no access
//   guard guard-rx    read-write or execute-read with the guard bit on
//                     Windows; no access elsewhere
//   secret            Linux: pages of a secret memory file (memfd_secret),
//                     which the map lists as read-write but no other
//                     process can read (the block's bytes there are not
//                     kept); an error elsewhere or where the kernel does
//                     not offer it
// Example: "rw*1,rx*1,@4094=c3c3c3c3" is a read-write page followed by an
// executable page, with four bytes across their border.
//
// Output, one line each, hex numbers without prefix:
//   page SIZE
//   module exe BASE INSIDE NAME   the program itself (INSIDE: code in it)
//   module lib BASE INSIDE NAME   a system library it has loaded
//   block INDEX ADDRESS SIZE      one per BLOCK, in order
//   stack ADDRESS                 where the stack= bytes are, if given
//   global ADDRESS                the last 16 bytes of a 1 MiB zero-initialised
//                                 global: on Linux in the anonymous mapping
//                                 after the program's last file mapping
//   ready
// Then it waits until its standard input closes and exits with 0. A bad
// argument or a failed allocation prints "error TEXT" and exits with 2.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
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
    std::uint64_t repeat = 1;
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
                  {"guard-rx", PageProtection::GuardExecute},
                  {"secret", PageProtection::Secret}};
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
    if (key == "repeat") {
        return ParseNumber(value, 10, block.repeat) && block.repeat != 0;
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
    const std::vector<PageRun> once = block.runs;
    for (std::uint64_t round = 1; round < block.repeat; ++round) block.runs.insert(block.runs.end(), once.begin(), once.end());
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
    for (Write& write : block.writes) {
        if (write.offset > block.size || write.bytes.size() > block.size - write.offset)
            Fail("write past the block");
        std::memcpy(block.address + write.offset, write.bytes.data(), write.bytes.size());
        std::memset(write.bytes.data(), 0, write.bytes.size());
    }
    std::uint8_t* run = block.address;
    for (const PageRun& each : block.runs) {
        if (!ProtectPages(run, each.pages * page, each.protection)) Fail("cannot protect");
        run += each.pages * page;
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes HEX straight into `bytes`, so that no other copy of them is made.
void DecodeInto(const char* hex, volatile std::uint8_t* bytes, std::size_t capacity) {
    const std::size_t length = std::strlen(hex);
    if (length % 2 != 0 || length / 2 > capacity) Fail(std::string("bad stack bytes: ") + hex);
    for (std::size_t i = 0; i < length; i += 2) {
        const int high = HexDigit(hex[i]);
        const int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) Fail(std::string("bad stack bytes: ") + hex);
        bytes[i / 2] = static_cast<std::uint8_t>(high * 16 + low);
    }
}

// Maps pages one by one, protects every other one differently, unmaps them
// all, and again, until the process ends.
[[noreturn]] void Churn() {
    const std::size_t page = PageSize();
    std::vector<void*> pages;
    pages.reserve(64);
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (void* each = AllocatePages(page)) pages.push_back(each);
        }
        for (std::size_t i = 0; i < pages.size(); i += 2) ProtectPages(pages[i], page, PageProtection::Read);
        for (void* each : pages) FreePages(each, page);
        pages.clear();
    }
}

// Zero-initialised, so the file holds none of it; large, so most of it lies
// past the last page the program's file maps.
std::uint8_t zeroInitialisedGlobal[1 << 20];

void PrintModule(const char* kind, bool (*facts)(ModuleFacts&)) {
    ModuleFacts module;
    if (!facts(module)) Fail(std::string("no module facts: ") + kind);
    std::printf("module %s %llx %llx %s\n", kind, static_cast<unsigned long long>(module.base),
                static_cast<unsigned long long>(module.inside), module.name.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // In main's own frame, so the bytes stay on the stack while the child runs.
    volatile std::uint8_t stackBytes[64] = {};
    bool hasStackBytes = false;
    bool churn = false;
    std::vector<Block> blocks;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "stack=", 6) == 0) {
            DecodeInto(argv[i] + 6, stackBytes, sizeof stackBytes);
            hasStackBytes = true;
        } else if (std::strcmp(argv[i], "churn") == 0) {
            churn = true;
        } else {
            blocks.push_back(ParseBlock(argv[i]));
        }
    }
    for (Block& block : blocks) LayOut(block);

    std::printf("page %llx\n", static_cast<unsigned long long>(PageSize()));
    PrintModule("exe", ExecutableModule);
    PrintModule("lib", LibraryModule);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        std::printf("block %llu %llx %llx\n", static_cast<unsigned long long>(i),
                    static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(blocks[i].address)),
                    static_cast<unsigned long long>(blocks[i].size));
    }
    if (hasStackBytes) {
        std::printf("stack %llx\n", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(stackBytes)));
    }
    std::printf("global %llx\n", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(
                                      zeroInitialisedGlobal + sizeof zeroInitialisedGlobal - 16)));
    if (churn) std::thread(Churn).detach();
    std::printf("ready\n");
    std::fflush(stdout);

    while (std::getchar() != EOF) {
    }
    return 0;
}
