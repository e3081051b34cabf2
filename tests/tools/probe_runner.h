#pragma once
// Runs corvane-probe from the assembled layout to its end and keeps what it
// printed, for the probe's tests.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/script_test_support.h"

namespace probe_runner {

namespace fs = std::filesystem;

constexpr std::uint32_t kProbeWaitMs = 30000;
inline std::string ProbeProgram() { return PathBesideThisProgram(std::string("../dist/") + PROBE_FILE_NAME); }

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
inline bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

inline std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

struct ProbeResult {
    int exitCode = -1;  // -1: did not end in time
    std::uint32_t pid = 0;
    std::vector<std::string> lines;  // its standard output

    // The first line that starts with `prefix`, or "".
    std::string Line(const std::string& prefix) const {
        for (const std::string& line : lines) {
            if (StartsWith(line, prefix)) return line;
        }
        return "";
    }
    std::vector<std::string> LinesStartingWith(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& line : lines) {
            if (StartsWith(line, prefix)) found.push_back(line);
        }
        return found;
    }
    std::string Text() const {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        return text;
    }
};

// Runs `program` to its end, in `directory` when one is given.
inline ProbeResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                              const fs::path& directory = {}) {
    ProbeResult result;
    ChildProcess probe;
    const fs::path original = fs::current_path();
    if (!directory.empty()) fs::current_path(directory);
    const bool started = probe.Start(program, arguments);
    fs::current_path(original);
    if (!started) return result;
    result.pid = probe.Pid();
    probe.CloseInput();
    std::string line;
    while (probe.ReadLine(line, kProbeWaitMs)) result.lines.push_back(line);
    if (!probe.Wait(kProbeWaitMs, result.exitCode)) probe.Kill();
    return result;
}

// Runs the probe to its end, in `directory` when one is given.
inline ProbeResult RunProbe(const std::vector<std::string>& arguments, const fs::path& directory = {}) {
    return RunProgram(ProbeProgram(), arguments, directory);
}

}  // namespace probe_runner
