#include "tools/probe/code_reference.h"

#include <capstone/capstone.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::int32_t Int32At(const std::uint8_t* bytes) {
    std::uint32_t value = 0;
    for (int k = 0; k < 4; ++k) value |= static_cast<std::uint32_t>(bytes[k]) << (8 * k);
    return static_cast<std::int32_t>(value);
}

// The sizes of an immediate that may follow a displacement.
constexpr std::size_t kImmediateSizes[] = {0, 1, 2, 4};

bool HasRipOperand(const cs_x86& x86) {
    for (std::uint8_t i = 0; i < x86.op_count; ++i) {
        if (x86.operands[i].type == X86_OP_MEM && x86.operands[i].mem.base == X86_REG_RIP) return true;
    }
    return false;
}

bool HasMemoryOperand(const cs_x86& x86) {
    for (std::uint8_t i = 0; i < x86.op_count; ++i) {
        if (x86.operands[i].type == X86_OP_MEM) return true;
    }
    return false;
}

// The size of the instruction's displacement, 0 without one. Capstone 4
// reports it as 2 for some instructions with an operand-size prefix, where
// the displacement has 4 bytes; it is the bytes from its offset to the
// immediate, which is all that may follow it in an instruction.
std::size_t DisplacementSize(const cs_insn& instruction) {
    const cs_x86_encoding& encoding = instruction.detail->x86.encoding;
    if (encoding.disp_offset == 0) return 0;
    const std::size_t end = encoding.imm_offset > encoding.disp_offset ? encoding.imm_offset : instruction.size;
    return end > encoding.disp_offset ? end - encoding.disp_offset : 0;
}

}  // namespace

CodeDecoder::CodeDecoder(CodeBitness bitness) : bitness_(bitness) {
    csh handle = 0;
    if (cs_open(CS_ARCH_X86, bitness == CodeBitness::X64 ? CS_MODE_64 : CS_MODE_32, &handle) != CS_ERR_OK) return;
    cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON);
    instruction_ = cs_malloc(handle);
    if (instruction_ == nullptr) {
        cs_close(&handle);
        return;
    }
    handle_ = handle;
}

CodeDecoder::~CodeDecoder() {
    if (handle_ == 0) return;
    cs_free(static_cast<cs_insn*>(instruction_), 1);
    csh handle = handle_;
    cs_close(&handle);
}

bool CodeDecoder::DecodeReference(std::uint64_t address, const std::uint8_t* data, std::size_t size,
                                  std::size_t operand, std::size_t end, bool relative, CodeReference& reference) {
    // In step with the code before it: decode from the lead-in on and see
    // whether an instruction ends exactly at `end`.
    auto* instruction = static_cast<cs_insn*>(instruction_);
    const std::size_t start = operand > kDecodeLeadIn ? operand - kDecodeLeadIn : 0;
    const std::uint8_t* code = data + start;
    std::size_t left = size - start;
    std::uint64_t at = address + start;
    while (at < address + end) {
        if (!cs_disasm_iter(handle_, &code, &left, &at, instruction)) {
            if (left == 0) return false;
            ++code;  // not an instruction here: step over the byte and fall in step again
            --left;
            ++at;
            continue;
        }
        if (at != address + end) continue;
        const std::size_t first = static_cast<std::size_t>(instruction->address - address);
        const cs_x86& x86 = instruction->detail->x86;
        const std::size_t field = operand - first;
        const bool asDisplacement = x86.encoding.disp_offset == field && DisplacementSize(*instruction) == 4 &&
                                    (relative ? HasRipOperand(x86) : HasMemoryOperand(x86));
        const bool asImmediate = !relative && x86.encoding.imm_offset == field && x86.encoding.imm_size == 4;
        if (!asDisplacement && !asImmediate) return false;
        reference.address = instruction->address;
        reference.bytes.assign(data + first, data + end);
        reference.operandOffset = field;
        reference.relative = relative;
        reference.text = std::string(instruction->mnemonic) + (instruction->op_str[0] != '\0' ? " " : "") + instruction->op_str;
        return true;
    }
    return false;
}

void CodeDecoder::FindReferences(std::uint64_t address, const std::uint8_t* data, std::size_t size, std::size_t from,
                                 std::size_t until, std::uint64_t target, std::vector<CodeReference>& found) {
    if (!Ready()) return;
    until = std::min(until, size >= 4 ? size - 3 : 0);
    for (std::size_t p = from; p < until; ++p) {
        CodeReference reference;
        if (bitness_ == CodeBitness::X86) {
            if (static_cast<std::uint32_t>(Int32At(data + p)) != target) continue;
            // An absolute operand: the instruction ends with it or with an
            // immediate after it.
            for (std::size_t immediate : kImmediateSizes) {
                const std::size_t end = p + 4 + immediate;
                if (end <= size && DecodeReference(address, data, size, p, end, false, reference)) {
                    found.push_back(reference);
                    break;
                }
            }
            continue;
        }
        const std::int64_t displacement = Int32At(data + p);
        for (std::size_t immediate : kImmediateSizes) {
            const std::size_t end = p + 4 + immediate;
            if (end > size || address + end + static_cast<std::uint64_t>(displacement) != target) continue;
            if (DecodeReference(address, data, size, p, end, true, reference)) {
                found.push_back(reference);
                break;
            }
        }
    }
}

BytePattern CodeDecoder::PatternOf(std::uint64_t address, const std::uint8_t* data, std::size_t size,
                                   std::size_t limit) {
    BytePattern pattern;
    if (!Ready()) return pattern;
    auto* instruction = static_cast<cs_insn*>(instruction_);
    const std::uint8_t* code = data;
    std::size_t left = std::min(size, limit);
    std::uint64_t at = address;
    while (cs_disasm_iter(handle_, &code, &left, &at, instruction)) {
        const cs_x86_encoding& encoding = instruction->detail->x86.encoding;
        const std::size_t first = pattern.bytes.size();
        pattern.bytes.insert(pattern.bytes.end(), instruction->bytes, instruction->bytes + instruction->size);
        pattern.mask.insert(pattern.mask.end(), instruction->size, 1);
        const auto wildcard = [&](std::uint8_t offset, std::uint8_t fieldSize) {
            if (offset == 0 || fieldSize < 4) return;
            for (std::size_t k = offset; k < offset + fieldSize && k < instruction->size; ++k) {
                pattern.bytes[first + k] = 0;
                pattern.mask[first + k] = 0;
            }
        };
        wildcard(encoding.disp_offset, static_cast<std::uint8_t>(DisplacementSize(*instruction)));
        wildcard(encoding.imm_offset, encoding.imm_size);
    }
    return pattern;
}

std::string PatternText(const BytePattern& pattern) {
    std::string text;
    for (std::size_t i = 0; i < pattern.bytes.size(); ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", pattern.bytes[i]);
        text += pattern.mask[i] != 0 ? pair : "..";
    }
    return text;
}
