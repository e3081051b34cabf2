// `read PID ADDRESS SIZE`: the bytes a script's Read would return, as a hex
// dump with the printable characters beside them.

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/probe/command_support.h"
#include "tools/probe/hex_dump.h"
#include "tools/probe/probe_arguments.h"
#include "tools/probe/probe_commands.h"

namespace {

// More than a person reads, and little enough that the buffer is always had.
constexpr std::uint64_t kMaxDumpSize = 64u << 20;

}  // namespace

int ReadCommand(const std::vector<std::string>& arguments) {
    CommandArguments split;
    std::string error;
    if (!SplitArguments(arguments, {}, {}, split, error)) return UsageError("read", error);
    if (split.positional.size() != 3) return UsageError("read", "read takes a process id, an address and a size");
    const std::optional<std::uint64_t> address = ParseAddress(split.positional[1]);
    if (!address) return UsageError("read", "not an address: " + split.positional[1]);
    const std::optional<std::uint64_t> size = ParseAddress(split.positional[2]);
    if (!size) return UsageError("read", "not a size: " + split.positional[2]);
    if (*size > kMaxDumpSize) return UsageError("read", "a dump holds at most 64 MiB");
    int exitCode = kExitDone;
    ProcessInfo info;
    std::unique_ptr<TargetProcess> target = OpenTargetArgument("read", split.positional[0], info, exitCode);
    if (!target) return exitCode;
    std::printf("%s\n", TargetLine(info).c_str());

    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
    if (!ReadTargetMemory(*target, *address, bytes.data(), *size)) {
        std::printf("cannot read %" PRIu64 " bytes at %s: Read returns nil\n", *size, HexAddress(*address).c_str());
        return kExitFailed;
    }
    const std::string dump = HexDump(*address, bytes.data(), bytes.size());
    std::fwrite(dump.data(), 1, dump.size(), stdout);
    std::printf("%" PRIu64 " %s read\n", *size, *size == 1 ? "byte" : "bytes");
    return kExitDone;
}
