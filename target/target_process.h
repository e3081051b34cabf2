#pragma once
// Read-only access to the target (the game) process: open, wait, read, scan
// for a byte pattern and look up a loaded module. Every operation reports
// failure through its result alone and none throws.

#include <cstdint>
#include <memory>
#include <vector>

namespace detail {
class AddressSpace;
}

// The search key of a scan: bytes with a per-byte mask (non-zero: the byte
// must match; zero: a wildcard that matches any byte). Both have the same
// length, which may be 0.
struct BytePattern {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> mask;
};

class TargetProcess;

// The process with this id, opened for reading and waiting, or none.
std::unique_ptr<TargetProcess> OpenTarget(std::uint32_t pid);

// The one handle on the game process. Only OpenTarget makes one, so there is
// no empty target: every TargetProcess holds an open process, and destroying
// it closes the handle.
class TargetProcess {
public:
    TargetProcess(const TargetProcess&) = delete;
    TargetProcess& operator=(const TargetProcess&) = delete;
    ~TargetProcess();

    std::uint32_t Pid() const { return pid_; }
    // The process HANDLE on Windows, a pidfd on Linux.
    std::uintptr_t Handle() const { return handle_; }
    // The target's memory as its OS backend reads it; internal to target/.
    detail::AddressSpace& Memory() const { return *memory_; }

private:
    friend std::unique_ptr<TargetProcess> OpenTarget(std::uint32_t pid);
    TargetProcess(std::uintptr_t handle, std::uint32_t pid, std::unique_ptr<detail::AddressSpace> memory);

    std::uintptr_t handle_;
    std::uint32_t pid_;
    std::unique_ptr<detail::AddressSpace> memory_;
};

// How a wait on the target ended. A failed wait is told apart so that a
// caller never mistakes it for a time-out and polls without a pause.
enum class TargetWait { Ended, TimedOut, Failed };
TargetWait WaitForTarget(TargetProcess& target, std::uint32_t timeoutMs);

// True only when the process has ended within the time-out.
bool WaitForExit(TargetProcess& target, std::uint32_t timeoutMs);

// True when exactly `size` bytes at `address` were copied into `buffer`.
bool ReadTargetMemory(TargetProcess& target, std::uint64_t address, void* buffer, std::uint64_t size);

// True with the lowest address in [start, end) where the pattern matches.
bool FindPattern(TargetProcess& target, const BytePattern& pattern, std::uint64_t start,
                 std::uint64_t end, bool executableOnly, std::uint64_t& match);

// True with the base address and size of the first module whose base name
// equals `name` exactly (case-sensitive).
bool FindModule(TargetProcess& target, const char* name, std::uint64_t& base, std::uint64_t& size);

// The bytes that scans in this process have read from targets so far. A tool
// that shows what a search cost takes the difference around it; scans share
// one buffer and never run at the same time, so a plain count serves.
std::uint64_t ScannedByteCount();
