// Target operations that are the same on every platform.

#include "target/target_process.h"

bool WaitForExit(TargetProcess& target, std::uint32_t timeoutMs) {
    return WaitForTarget(target, timeoutMs) == TargetWait::Ended;
}
