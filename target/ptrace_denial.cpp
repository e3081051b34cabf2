#include "target/ptrace_denial.h"

#include <cstring>
#include <string>
#include <utility>

namespace detail {
namespace {

// Beyond the ids, the memory file of a process belongs to its effective
// user (to root when the process is not dumpable) and only its owner may
// open it: CAP_SYS_PTRACE alone does not pass that, root does.
const char* const kAsRoot = "run the probe as root (sudo corvane-probe ...)";
const char* const kAsRootOrTracer = "run the probe as root, or with CAP_SYS_PTRACE";

bool AllAre(const std::uint32_t (&ids)[3], std::uint32_t id) {
    return ids[0] == id && ids[1] == id && ids[2] == id;
}

// The first id of `ids` that is not `id`.
std::uint32_t OtherThan(const std::uint32_t (&ids)[3], std::uint32_t id) {
    for (std::uint32_t each : ids) {
        if (each != id) return each;
    }
    return id;
}

ProcessAccess Denied(std::string cause, std::string remedy) {
    ProcessAccess access;
    access.cause = std::move(cause);
    access.remedy = std::move(remedy);
    return access;
}

}  // namespace

ProcessAccess ExplainPtraceDenial(const PtraceFacts& f) {
    if (!(f.readerMayTrace && f.readerUid == 0)) {
        if (!AllAre(f.targetUids, f.readerUid)) {
            const std::string uid = std::to_string(OtherThan(f.targetUids, f.readerUid));
            if (f.targetUids[0] == f.readerUid) {
                return Denied("it runs set-user-id as uid " + uid + ", which also makes it not dumpable",
                              std::string(kAsRoot) + ", or run a copy of the game without the set-user-id bit");
            }
            return Denied("it runs as another user (uid " + uid + ")",
                          "run the probe as that user (sudo -u '#" + uid + "' corvane-probe ...), or as root");
        }
        if (!AllAre(f.targetGids, f.readerGid)) {
            const std::string gid = std::to_string(OtherThan(f.targetGids, f.readerGid));
            if (f.targetGids[0] == f.readerGid) {
                return Denied("it runs set-group-id as gid " + gid + ", which also makes it not dumpable",
                              "run a copy of the game without the set-group-id bit; or start the game and the "
                              "probe both with that group as their real group (sg GROUP -c '...'); or " +
                                  std::string(kAsRoot));
            }
            return Denied("it runs with another group (gid " + gid + ")",
                          "run the probe with that group (sg GROUP -c 'corvane-probe ...'), or as root");
        }
        if (!f.targetDumpable) {
            return Denied("it is not dumpable (it changed its ids or turned dumping off)", kAsRoot);
        }
    }
    switch (f.ptraceScope) {
    case 1:
        if (f.readerMayTrace) break;
        return Denied("kernel.yama.ptrace_scope is 1: only a process's ancestors may read it",
                      std::string(kAsRootOrTracer) + ", or allow it until the next boot: "
                                                 "sudo sysctl kernel.yama.ptrace_scope=0");
    case 2:
        if (f.readerMayTrace) break;
        return Denied("kernel.yama.ptrace_scope is 2: only processes with CAP_SYS_PTRACE may read another",
                      kAsRootOrTracer);
    case 3:
        return Denied("kernel.yama.ptrace_scope is 3: no process may read another",
                      "nothing short of a reboot allows it (the setting cannot be lowered once 3)");
    default:
        break;
    }
    if (f.readerMayTrace && f.readerUid == 0) {
        return Denied(std::string("refused although the probe runs as root (") +
                          std::strerror(f.error) + "): a security module or the container forbids it",
                      "run the probe where the security policy allows tracing (outside the container)");
    }
    return Denied(std::string("the system refused it (") + std::strerror(f.error) + ")",
                  "run the probe as root");
}

}  // namespace detail
