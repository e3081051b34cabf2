#pragma once
// Running scanmem, the stand-alone memory scanner the scan benchmarks
// compare with, where it is installed (tools/setup --bench).

#include <chrono>
#include <cstdint>
#include <string>

// The full path of `name` on the search path, or "".
std::string OnSearchPath(const std::string& name);

// Adds to `time` the wall time of one scanmem run on process `pid` with
// these commands, its output drained. False when it fails.
bool TimeScanmem(const std::string& scanmem, std::uint32_t pid, const std::string& commands,
                 std::chrono::duration<double>& time);
