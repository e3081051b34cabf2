#pragma once
// Whether the target runs 32-bit or 64-bit x86 code, which decides how its
// instructions decode.

#include <cstdint>
#include <optional>

#include "tools/probe/code_reference.h"

// The bitness of the process's program, or none when it cannot be told.
std::optional<CodeBitness> TargetBitness(std::uint32_t pid);
