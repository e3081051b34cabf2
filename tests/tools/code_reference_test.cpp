// The instructions sig finds and the patterns it proposes, on code laid out
// byte by byte: what refers to the address and what only looks as if it did.
#include "tools/probe/code_reference.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kBase = 0x1000;
constexpr std::uint64_t kTarget = 0x5000;

struct Expected {
    std::uint64_t address;
    std::size_t length;
    std::size_t operandOffset;
    const char* text;
};

void ExpectReferences(CodeBitness bitness, const std::vector<std::uint8_t>& code, const std::vector<Expected>& expected) {
    CodeDecoder decoder(bitness);
    ASSERT_TRUE(decoder.Ready());
    std::vector<CodeReference> found;
    decoder.FindReferences(kBase, code.data(), code.size(), 0, code.size(), kTarget, found);
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].address, expected[i].address) << i;
        EXPECT_EQ(found[i].bytes.size(), expected[i].length) << i;
        EXPECT_EQ(found[i].operandOffset, expected[i].operandOffset) << i;
        EXPECT_EQ(found[i].relative, bitness == CodeBitness::X64) << i;
        EXPECT_EQ(found[i].text, expected[i].text) << i;
    }
}

TEST(CodeReference, X64FindsInstructionRelativeOperandsAndLea) {
    const std::vector<std::uint8_t> code = {
        0x55,                                                        // push rbp
        0x48, 0x89, 0xe5,                                            // mov rbp, rsp
        0x48, 0x8b, 0x05, 0xf5, 0x3f, 0x00, 0x00,                    // 0x1004 mov rax, [rip + 0x3ff5]
        0xc7, 0x05, 0xeb, 0x3f, 0x00, 0x00, 0x2a, 0x00, 0x00, 0x00,  // 0x100b mov dword [rip + 0x3feb], 42
        0x66, 0x83, 0x3d, 0xe3, 0x3f, 0x00, 0x00, 0x05,              // 0x1015 cmp word [rip + 0x3fe3], 5
        0x48, 0x8d, 0x0d, 0xdc, 0x3f, 0x00, 0x00,                    // 0x101d lea rcx, [rip + 0x3fdc]
        0xe8, 0xd7, 0x3f, 0x00, 0x00,                                // call 0x5000: a branch, no reference
        0x8b, 0x05, 0xd1, 0x4f, 0x00, 0x00,                          // mov eax, [rip + 0x4fd1]: 0x6000
        0xc3,                                                        // ret
    };
    ExpectReferences(CodeBitness::X64, code,
                     {{0x1004, 7, 3, "mov rax, qword ptr [rip + 0x3ff5]"},
                      {0x100b, 10, 2, "mov dword ptr [rip + 0x3feb], 0x2a"},
                      {0x1015, 8, 3, "cmp word ptr [rip + 0x3fe3], 5"},
                      {0x101d, 7, 3, "lea rcx, [rip + 0x3fdc]"}});
}

TEST(CodeReference, X86FindsAbsoluteOperandsAndImmediates) {
    const std::vector<std::uint8_t> code = {
        0xa1, 0x00, 0x50, 0x00, 0x00,                                // 0x1000 mov eax, [0x5000]
        0xc7, 0x05, 0x00, 0x50, 0x00, 0x00, 0x2a, 0x00, 0x00, 0x00,  // 0x1005 mov dword [0x5000], 42
        0x68, 0x00, 0x50, 0x00, 0x00,                                // 0x100f push 0x5000
        0x8b, 0x04, 0x85, 0x00, 0x50, 0x00, 0x00,                    // 0x1014 mov eax, [eax*4 + 0x5000]
        0xc7, 0x05, 0x00, 0x60, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00,  // 0x101b mov dword [0x6000], 0x5000
        0x8b, 0x80, 0x00, 0x50, 0x00, 0x00,                          // 0x1025 mov eax, [eax + 0x5000]
        0xb0, 0x00, 0x50, 0x00, 0x00,                                // mov al, 0; push eax...: bytes that only look like it
        0xc3,                                                        // ret
    };
    ExpectReferences(CodeBitness::X86, code,
                     {{0x1000, 5, 1, "mov eax, dword ptr [0x5000]"},
                      {0x1005, 10, 2, "mov dword ptr [0x5000], 0x2a"},
                      {0x100f, 5, 1, "push 0x5000"},
                      {0x1014, 7, 3, "mov eax, dword ptr [eax*4 + 0x5000]"},
                      {0x101b, 10, 6, "mov dword ptr [0x6000], 0x5000"},
                      {0x1025, 6, 2, "mov eax, dword ptr [eax + 0x5000]"}});
}

// Decoding starts before a reference and falls in step with the code, so an
// operand that only looks like one in the middle of another instruction is
// no reference.
TEST(CodeReference, BytesInsideAnotherInstructionAreNoReference) {
    // mov rax, imm64 whose bytes hold 8b 05 and a displacement to the target.
    std::vector<std::uint8_t> code(300, 0x90);  // nops before it
    const std::uint8_t moveImmediate[] = {0x48, 0xb8, 0x8b, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    code.insert(code.end(), moveImmediate, moveImmediate + sizeof moveImmediate);
    // The false operand at offset 302 ends at 308: its value must be target - (base + 308).
    const std::uint32_t displacement = static_cast<std::uint32_t>(kTarget - (kBase + 308));
    for (int k = 0; k < 4; ++k) code[304 + k] = static_cast<std::uint8_t>(displacement >> (8 * k));
    code.push_back(0xc3);
    ExpectReferences(CodeBitness::X64, code, {});
}

TEST(CodeReference, PatternsWildcardAddressesOffsetsAndBranchTargets) {
    const std::vector<std::uint8_t> code = {
        0x48, 0x8d, 0x0d, 0xdc, 0x3f, 0x00, 0x00,  // lea rcx, [rip + 0x3fdc]
        0xe8, 0xd7, 0x3f, 0x00, 0x00,              // call rel32
        0x8b, 0x45, 0xf8,                          // mov eax, [rbp - 8]: a small offset stays
        0x83, 0xc0, 0x01,                          // add eax, 1
        0x48, 0xb8, 1, 2, 3, 4, 5, 6, 7, 8,        // mov rax, imm64
        0xeb, 0x02,                                // jmp short: kept
        0x66, 0x83, 0x3d, 1, 2, 3, 4, 0x05,        // cmp word [rip + disp32], 5
        0xc3,
    };
    CodeDecoder decoder(CodeBitness::X64);
    ASSERT_TRUE(decoder.Ready());
    EXPECT_EQ(PatternText(decoder.PatternOf(kBase, code.data(), code.size(), 64)),
              "488d0d........e8........8b45f883c00148b8................eb0266833d........05c3");
    // Whole instructions only: a limit inside the call stops before it.
    EXPECT_EQ(PatternText(decoder.PatternOf(kBase, code.data(), code.size(), 10)), "488d0d........");
}

}  // namespace
