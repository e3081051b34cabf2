#pragma once
// What the probe's commands share: reporting a bad argument with the
// command's usage line, opening the process they look at, and the line
// that names it.

#include <cstdint>
#include <memory>
#include <string>

#include "target/process_list.h"
#include "target/target_process.h"

// Prints "corvane-probe: MESSAGE" and the usage line of `command` to the
// standard error; returns the usage exit code.
int UsageError(const std::string& command, const std::string& message);

// The process id argument of `command` opened for reading, with what the
// system lists of it in `info`. On failure the reason (and for a process
// that may not be read, its cause and remedy) is printed and `exitCode` set.
std::unique_ptr<TargetProcess> OpenTargetArgument(const std::string& command, const std::string& pidText,
                                                  ProcessInfo& info, int& exitCode);

// "process 14401 demo_game, 64-bit": the first line of every command that
// looks at a process.
std::string TargetLine(const ProcessInfo& info);

// An address as the probe prints it: 0x and lower-case hex digits.
std::string HexAddress(std::uint64_t address);
