#pragma once
// Starts target_child (see target_child.cpp for the block language) and reads
// the layout it reports, for tests that need a real process to read and scan.

#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"

struct ChildBlock {
    std::uint64_t address = 0;
    std::uint64_t size = 0;
};

struct ChildModule {
    std::uint64_t base = 0;
    std::uint64_t inside = 0;  // an address of code within the module
    std::string name;
};

struct TargetChild {
    ChildProcess process;
    std::uint64_t pageSize = 0;
    ChildModule executable;  // target_child itself
    ChildModule library;     // a system library it has loaded
    std::vector<ChildBlock> blocks;
    std::uint64_t stack = 0;  // where the stack= bytes are; 0 without them
    std::uint64_t zeroInitialisedGlobal = 0;  // 16 bytes in the program's zero-initialised globals
    std::string error;  // why StartTargetChild failed
};

// Where the target_child program is.
std::string TargetChildPath();

// Starts the child with these arguments (blocks, "stack=HEX", "churn") and
// waits until it is ready.
// False (with `error` set) when it cannot start or reports a problem.
bool StartTargetChild(const std::vector<std::string>& blocks, TargetChild& child);
// The same with another build's target_child, given by its path.
bool StartTargetChild(const std::string& program, const std::vector<std::string>& blocks, TargetChild& child);
