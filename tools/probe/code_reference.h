#pragma once
// The instructions in a target's code that refer to an address, and the
// byte pattern a script finds such an instruction by, decoded with Capstone.
//
// An instruction refers to an address when x64 code reads it relative to
// the instruction pointer (a memory operand or lea: the address is the
// instruction's end plus its 32-bit displacement), or when x86 code holds it
// as the 32-bit displacement of a memory operand (alone, or added to
// registers as an array's start is) or as a 32-bit immediate.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "target/target_process.h"

enum class CodeBitness { X86, X64 };

struct CodeReference {
    std::uint64_t address = 0;        // where the instruction starts
    std::vector<std::uint8_t> bytes;  // the whole instruction
    std::size_t operandOffset = 0;    // of the 4 bytes that give the address
    bool relative = false;            // address = instruction's end + those bytes, signed
    std::string text;                 // "mov eax, dword ptr [rip + 0x2fe2]"
};

// How far before a candidate the decoder starts, so that it falls in step
// with the instructions (x86 code resynchronises within a few of them).
constexpr std::size_t kDecodeLeadIn = 256;
// The longest x86 instruction.
constexpr std::size_t kLongestInstruction = 15;

class CodeDecoder {
public:
    explicit CodeDecoder(CodeBitness bitness);
    CodeDecoder(const CodeDecoder&) = delete;
    CodeDecoder& operator=(const CodeDecoder&) = delete;
    ~CodeDecoder();

    // False when Capstone could not be opened.
    bool Ready() const { return handle_ != 0; }

    // Appends the instructions of data[0, size) (read from `address`) that
    // refer to `target` and whose operand starts at an offset in [from,
    // until). Decoding starts up to kDecodeLeadIn bytes before each
    // candidate, so bytes before `from` are used when present.
    void FindReferences(std::uint64_t address, const std::uint8_t* data, std::size_t size, std::size_t from,
                        std::size_t until, std::uint64_t target, std::vector<CodeReference>& found);

    // The pattern of the code at data[0, size), read from `address`: whole
    // instructions up to `limit` bytes, with every displacement and
    // immediate of 4 bytes or more (addresses, offsets and branch targets,
    // which move when the program is built again or loaded elsewhere) as
    // wildcards.
    BytePattern PatternOf(std::uint64_t address, const std::uint8_t* data, std::size_t size, std::size_t limit);

private:
    // The instruction at data[at] that ends at `end` and holds the address
    // in the 4 bytes at `operand`, or false.
    bool DecodeReference(std::uint64_t address, const std::uint8_t* data, std::size_t size, std::size_t operand,
                         std::size_t end, bool relative, CodeReference& reference);

    CodeBitness bitness_;
    std::size_t handle_ = 0;  // Capstone's csh
    void* instruction_ = nullptr;  // a cs_insn of Capstone's, reused
};

// A pattern as Find reads it: two hex digits a byte, ".." a wildcard.
std::string PatternText(const BytePattern& pattern);
