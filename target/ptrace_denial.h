#pragma once
// Why Linux refuses one process the reading of another, told from the ids
// and states /proc shows, in the order the kernel checks them: the ids
// (every user id and every group id of the target must be the reader's),
// then whether the target is dumpable, then Yama's ptrace_scope. Root with
// CAP_SYS_PTRACE passes the first two; the capability alone does not, since
// the memory file opens only for its owner. Kept apart
// from the Linux backend, which gathers the facts, so its rules are tested
// natively.

#include <cstdint>

#include "target/process_list.h"

namespace detail {

struct PtraceFacts {
    std::uint32_t readerUid = 0;   // the reader's real user id
    std::uint32_t readerGid = 0;   // the reader's real group id
    std::uint32_t targetUids[3] = {};  // real, effective, saved
    std::uint32_t targetGids[3] = {};
    bool targetDumpable = true;
    int ptraceScope = -1;          // kernel.yama.ptrace_scope; -1 without Yama
    bool readerMayTrace = false;   // the reader has CAP_SYS_PTRACE
    int error = 0;                 // the errno of the refused open
};

// The cause and the remedy of a refused open.
ProcessAccess ExplainPtraceDenial(const PtraceFacts& facts);

}  // namespace detail
