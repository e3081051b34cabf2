// `sig PID ADDRESS [--json]`: the signatures of a variable. Finds the
// instructions in the target's code that refer to ADDRESS and, for each,
// the shortest pattern from its start that Find finds exactly once in code,
// with the bytes that move between builds and loads as wildcards; prints the
// Lua that sets `address` from Find's result, and the module plus offset as
// a fallback.

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "target/memory_walk.h"
#include "target/target_listing.h"
#include "tools/probe/code_reference.h"
#include "tools/probe/command_support.h"
#include "tools/probe/module_map.h"
#include "tools/probe/probe_arguments.h"
#include "tools/probe/probe_commands.h"
#include "tools/probe/utf8_text.h"

namespace {

// Instructions past this many are not looked at: a variable used in more
// places than an author reads has signatures enough among the first.
constexpr std::size_t kMaxReferences = 32;
// The longest pattern proposed.
constexpr std::size_t kMaxPatternLength = 64;
constexpr std::size_t kCodeChunk = 8u << 20;
// Bytes past an operand that an instruction may still need (an immediate
// after it), kept from one chunk for the next.
constexpr std::size_t kOperandMargin = kLongestInstruction + 1;

struct Signature {
    CodeReference reference;
    std::string where;    // module+offset of the instruction
    BytePattern pattern;  // the shortest unique one, or the longest tried
    bool unique = false;
    std::string snippet;
};

// How many places in code Find finds the pattern at: 0, 1 or 2 (two or more).
int MatchesInCode(TargetProcess& target, const BytePattern& pattern) {
    int count = 0;
    ForEachPatternMatch(target, pattern, 0, UINT64_MAX, true, [&count](std::uint64_t) { return ++count < 2; });
    return count;
}

BytePattern Prefix(const BytePattern& pattern, std::size_t length) {
    return BytePattern{{pattern.bytes.begin(), pattern.bytes.begin() + static_cast<std::ptrdiff_t>(length)},
                       {pattern.mask.begin(), pattern.mask.begin() + static_cast<std::ptrdiff_t>(length)}};
}

// The shortest prefix, at least the instruction, that matches once in code.
// A longer prefix matches nowhere a shorter one does not, so the lengths are
// halved down to it.
void ChooseShortestUnique(TargetProcess& target, CodeDecoder& decoder, Signature& signature) {
    const CodeReference& reference = signature.reference;
    std::vector<std::uint8_t> code(kMaxPatternLength);
    std::size_t size = kMaxPatternLength;
    while (size > reference.bytes.size() && !ReadTargetMemory(target, reference.address, code.data(), size)) --size;
    BytePattern longest = decoder.PatternOf(reference.address, code.data(), size, kMaxPatternLength);
    if (longest.bytes.size() < reference.bytes.size()) longest = BytePattern{reference.bytes, std::vector<std::uint8_t>(reference.bytes.size(), 1)};
    signature.pattern = longest;
    if (MatchesInCode(target, longest) != 1) return;
    std::size_t low = reference.bytes.size();
    std::size_t high = longest.bytes.size();
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (MatchesInCode(target, Prefix(longest, middle)) == 1) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    signature.pattern = Prefix(longest, high);
    signature.unique = true;
}

std::string Snippet(const Signature& signature) {
    const CodeReference& reference = signature.reference;
    const std::string find = "local match = Find(\"" + PatternText(signature.pattern) + "\")\n";
    const std::string operand = std::to_string(reference.operandOffset);
    if (reference.relative) {
        return find + "local disp = match and Read(match + " + operand + ", 4)\n" +
               "local address = disp and match + " + std::to_string(reference.bytes.size()) +
               " + string.unpack(\"<i4\", disp)\n";
    }
    return find + "local operand = match and Read(match + " + operand + ", 4)\n" +
           "local address = operand and string.unpack(\"<I4\", operand)\n";
}

// The module+offset form: "" when no module holds the address.
std::string ModuleSnippet(const ModuleMap& modules, std::uint64_t address) {
    const std::string where = modules.Describe(address);
    const std::size_t plus = where.rfind('+');
    if (where.empty() || plus == std::string::npos) return "";
    return "local base = GetModuleInfo(\"" + where.substr(0, plus) + "\")\nlocal address = base and base + " +
           where.substr(plus + 1) + "\n";
}

void Indented(const std::string& text) {
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        std::printf("    %s\n", text.substr(from, end - from).c_str());
        from = end + 1;
    }
}

void PrintText(std::uint64_t address, const std::string& where, CodeBitness bitness,
               const std::vector<Signature>& signatures, const std::string& fallback) {
    std::printf("code (%s) that refers to %s%s%s\n", bitness == CodeBitness::X64 ? "x64" : "x86",
                HexAddress(address).c_str(), where.empty() ? "" : "  ", where.c_str());
    for (const Signature& signature : signatures) {
        std::printf("\n%s%s%s  %s\n", HexAddress(signature.reference.address).c_str(),
                    signature.where.empty() ? "" : "  ", signature.where.c_str(), signature.reference.text.c_str());
        if (!signature.unique) {
            std::printf("  no pattern of up to %zu bytes from here is unique in code: %s\n",
                        signature.pattern.bytes.size(), PatternText(signature.pattern).c_str());
            continue;
        }
        std::printf("  pattern %s (%zu bytes), unique in code\n", PatternText(signature.pattern).c_str(),
                    signature.pattern.bytes.size());
        Indented(signature.snippet);
    }
    std::printf("\n%zu %s", signatures.size(), signatures.size() == 1 ? "instruction" : "instructions");
    if (signatures.size() == kMaxReferences) std::printf(" (the first %zu)", kMaxReferences);
    std::printf("\n");
    if (fallback.empty()) {
        std::printf("no module holds %s: there is no module+offset form\n", HexAddress(address).c_str());
    } else {
        std::printf("module+offset form, for this build of the game only:\n");
        Indented(fallback);
    }
}

void PrintJson(const ProcessInfo& process, std::uint64_t address, const std::string& where, CodeBitness bitness,
               const std::vector<Signature>& signatures, const std::string& fallback) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> json(buffer);
    // Module names come from the file system and may hold any bytes.
    const auto text = [&json](const std::string& value) {
        const std::string valid = ValidUtf8(value);
        json.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
    };
    json.StartObject();
    json.Key("pid");
    json.Uint(process.pid);
    json.Key("name");
    text(process.name);
    json.Key("address");
    text(HexAddress(address));
    json.Key("module");
    text(where);
    json.Key("bitness");
    text(bitness == CodeBitness::X64 ? "x64" : "x86");
    json.Key("instructions");
    json.StartArray();
    for (const Signature& signature : signatures) {
        json.StartObject();
        json.Key("address");
        text(HexAddress(signature.reference.address));
        json.Key("module");
        text(signature.where);
        json.Key("instruction");
        text(signature.reference.text);
        json.Key("pattern");
        text(PatternText(signature.pattern));
        json.Key("unique");
        json.Bool(signature.unique);
        json.Key("snippet");
        text(signature.unique ? signature.snippet : "");
        json.EndObject();
    }
    json.EndArray();
    json.Key("fallback");
    text(fallback);
    json.EndObject();
    std::printf("%s\n", buffer.GetString());
}

}  // namespace

int SigCommand(const std::vector<std::string>& arguments) {
    CommandArguments split;
    std::string error;
    if (!SplitArguments(arguments, {}, {"--json"}, split, error)) return UsageError("sig", error);
    if (split.positional.size() != 2) return UsageError("sig", "sig takes a process id and an address");
    const std::optional<std::uint64_t> address = ParseAddress(split.positional[1]);
    if (!address) return UsageError("sig", "not an address: " + split.positional[1]);
    int exitCode = kExitDone;
    ProcessInfo info;
    std::unique_ptr<TargetProcess> target = OpenTargetArgument("sig", split.positional[0], info, exitCode);
    if (!target) return exitCode;
    const bool json = split.flags.count("--json") != 0;
    if (!json) std::printf("%s\n", TargetLine(info).c_str());
    if (info.bitness == Bitness::Unknown) {
        std::fprintf(stderr, "corvane-probe: cannot tell whether process %" PRIu32 " runs 32-bit or 64-bit code\n",
                     target->Pid());
        return kExitFailed;
    }
    const CodeBitness bitness = info.bitness == Bitness::Bits64 ? CodeBitness::X64 : CodeBitness::X86;
    CodeDecoder decoder(bitness);
    if (!decoder.Ready()) {
        std::fprintf(stderr, "corvane-probe: the disassembler cannot be opened\n");
        return kExitFailed;
    }

    std::vector<CodeReference> references;
    ForEachMemoryChunk(*target, RegionKind::Executable, kCodeChunk, kDecodeLeadIn + kOperandMargin,
                       [&](const MemoryChunk& chunk) {
                           const std::size_t from = chunk.repeated == 0 ? 0 : chunk.repeated - kOperandMargin;
                           const std::size_t until = chunk.last ? chunk.size : chunk.size - kOperandMargin;
                           decoder.FindReferences(chunk.address, chunk.bytes, chunk.size, from, until, *address,
                                                  references);
                           return references.size() < kMaxReferences;
                       });
    if (references.size() > kMaxReferences) references.resize(kMaxReferences);
    const ModuleMap modules(*target);
    std::vector<Signature> signatures;
    for (const CodeReference& reference : references) {
        Signature signature;
        signature.reference = reference;
        signature.where = modules.Describe(reference.address);
        ChooseShortestUnique(*target, decoder, signature);
        if (signature.unique) signature.snippet = Snippet(signature);
        signatures.push_back(signature);
    }
    const std::string fallback = ModuleSnippet(modules, *address);
    if (json) {
        PrintJson(info, *address, modules.Describe(*address), bitness, signatures, fallback);
    } else {
        PrintText(*address, modules.Describe(*address), bitness, signatures, fallback);
    }
    for (const Signature& signature : signatures) {
        if (signature.unique) return kExitDone;
    }
    return kExitFailed;
}
