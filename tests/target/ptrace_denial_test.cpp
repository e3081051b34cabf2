// Why Linux refuses a read of another process, from the facts /proc shows:
// the ids first, then dumpability, then Yama's ptrace_scope, as the kernel
// checks them.
#include "target/ptrace_denial.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using detail::PtraceFacts;

// The author's own process: uid 1000, gid 1000, dumpable, no Yama.
PtraceFacts Own() {
    PtraceFacts facts;
    facts.readerUid = facts.readerGid = 1000;
    for (int i = 0; i < 3; ++i) facts.targetUids[i] = facts.targetGids[i] = 1000;
    facts.error = EACCES;
    return facts;
}

TEST(PtraceDenial, NamesTheFirstCheckThatFailsAndItsRemedy) {
    struct Case {
        const char* what;
        PtraceFacts facts;
        const char* cause;   // the start of the cause
        const char* remedy;  // a part of the remedy
    };
    std::vector<Case> cases;
    PtraceFacts other = Own();
    other.targetUids[0] = other.targetUids[1] = other.targetUids[2] = 1001;
    other.targetDumpable = false;
    cases.push_back({"another user", other, "it runs as another user (uid 1001)", "sudo -u '#1001'"});
    PtraceFacts setuid = Own();
    setuid.targetUids[1] = setuid.targetUids[2] = 0;
    setuid.targetDumpable = false;
    cases.push_back({"set-user-id", setuid, "it runs set-user-id as uid 0", "without the set-user-id bit"});
    PtraceFacts setgid = Own();
    setgid.targetGids[1] = setgid.targetGids[2] = 60;
    setgid.targetDumpable = false;
    cases.push_back({"set-group-id", setgid, "it runs set-group-id as gid 60", "without the set-group-id bit"});
    PtraceFacts group = Own();
    group.targetGids[0] = group.targetGids[1] = group.targetGids[2] = 60;
    cases.push_back({"another group", group, "it runs with another group (gid 60)", "sg GROUP"});
    PtraceFacts undumpable = Own();
    undumpable.targetDumpable = false;
    cases.push_back({"not dumpable", undumpable, "it is not dumpable", "as root"});
    PtraceFacts tracer = setgid;  // a capability without root does not open another's memory file
    tracer.readerMayTrace = true;
    cases.push_back({"set-group-id, read with CAP_SYS_PTRACE", tracer, "it runs set-group-id as gid 60", "as root"});
    for (int scope : {1, 2, 3}) {
        PtraceFacts yama = Own();
        yama.ptraceScope = scope;
        cases.push_back({"ptrace_scope", yama, scope == 1 ? "kernel.yama.ptrace_scope is 1"
                                                 : scope == 2 ? "kernel.yama.ptrace_scope is 2"
                                                              : "kernel.yama.ptrace_scope is 3",
                         scope == 1 ? "sysctl kernel.yama.ptrace_scope=0" : scope == 2 ? "CAP_SYS_PTRACE" : "reboot"});
    }
    // Root passes the ids, dumpability and scopes 1 and 2, not 3.
    PtraceFacts traced = setgid;
    traced.readerUid = traced.readerGid = 0;
    traced.readerMayTrace = true;
    traced.ptraceScope = 3;
    cases.push_back({"scope 3 with the capability", traced, "kernel.yama.ptrace_scope is 3", "reboot"});
    traced.ptraceScope = 1;
    cases.push_back({"a security module", traced, "refused although the probe runs as root", "security policy"});
    PtraceFacts unexplained = Own();
    cases.push_back({"nothing /proc shows", unexplained, "the system refused it (Permission denied)", "as root"});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessAccess access = detail::ExplainPtraceDenial(c.facts);
        EXPECT_FALSE(access.readable);
        EXPECT_EQ(access.cause.rfind(c.cause, 0), 0u) << access.cause;
        EXPECT_NE(access.remedy.find(c.remedy), std::string::npos) << access.remedy;
    }
}

}  // namespace
