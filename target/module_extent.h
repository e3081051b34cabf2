#pragma once
// Where a module lies in a Linux process: from the start of its file's
// first mapping to the end of its last one, and on over the anonymous
// mapping that directly follows that last one, which holds the module's
// zero-initialised globals (.bss), as a Windows image's size covers them.
// Kept apart from the Linux backend, which reads the maps file, so its rule
// is tested natively.

#include <cstdint>

#include "target/maps_line.h"

namespace detail {

class ModuleExtent {
public:
    // Begins the extent at the file's first mapping.
    explicit ModuleExtent(const MapsLine& first) : base_(first.start), end_(first.end), lastLineIsOurs_(true) {}

    // Feed every later line of the map, in order: `ours` when it maps the
    // module's file.
    void Next(const MapsLine& line, bool ours);

    std::uint64_t Base() const { return base_; }
    std::uint64_t Size() const { return end_ - base_; }

private:
    std::uint64_t base_;
    std::uint64_t end_;
    bool lastLineIsOurs_;  // the line before was a mapping of the file
};

}  // namespace detail
