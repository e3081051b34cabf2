#include "target/module_extent.h"

#include <algorithm>

namespace detail {

void ModuleExtent::Next(const MapsLine& line, bool ours) {
    if (ours) {
        end_ = std::max(end_, line.end);
    } else if (lastLineIsOurs_ && line.path[0] == '\0' && line.start == end_) {
        end_ = line.end;  // the globals after the file's last mapping so far
    }
    lastLineIsOurs_ = ours;
}

}  // namespace detail
