#pragma once
// Read-only access to the target (the game) process: open, wait, read, scan
// for a byte pattern and look up a loaded module. Every operation reports
// failure through its result alone.

#include <cstdint>
#include <memory>
#include <vector>

// The search key of a scan: bytes with a per-byte mask (non-zero: the byte
// must match; zero: a wildcard that matches any byte). Both have the same
// length, which may be 0.
struct BytePattern {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> mask;
};

// The one handle on the game process. It exists only when the open
// succeeded; destroying it closes the handle.
struct TargetProcess {
    static constexpr std::uintptr_t kNoHandle = ~std::uintptr_t{0};

    std::uintptr_t handle = kNoHandle;  // the process HANDLE on Windows, a pidfd on Linux
    std::uint32_t pid = 0;

    TargetProcess() = default;
    TargetProcess(const TargetProcess&) = delete;
    TargetProcess& operator=(const TargetProcess&) = delete;
    ~TargetProcess();
};

std::unique_ptr<TargetProcess> OpenTarget(std::uint32_t pid);

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
