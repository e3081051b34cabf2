// A program that publishes a presence and ends without rpc_shutdown: the
// service prints the presence, and the program exits cleanly and promptly.
#include <gtest/gtest.h>

#include <string>

#include "support/service_log.h"

namespace {

TEST(ClientExit, ProgramEndingWithoutShutdownStopsTheIoThread) {
    ServiceLog service;
    ASSERT_TRUE(service.Start({"--error", "4000", "Noted"}));
    ChildProcess probe;
    ASSERT_TRUE(probe.Start(ProgramBesideThisOne("client_exit_probe"), {"still playing"}));
    const int pid = static_cast<int>(probe.Pid());

    EXPECT_EQ(service.WaitForText("frame 1 "), PresenceFrame(1, pid, "still playing"));
    // Stopping takes at most one turn and one wait of 500 ms.
    int exitCode = -1;
    EXPECT_TRUE(probe.Wait(5000, exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(service.WaitForText("disconnected"), "disconnected");
}

}  // namespace
