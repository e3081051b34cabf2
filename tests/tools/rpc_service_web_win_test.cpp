// The Windows build of the reference service serves no web page: given --web
// it says why on standard error and exits with 1, before it listens.

#include <string>

#include <gtest/gtest.h>

#include "support/child_process.h"

TEST(RpcServiceWebWin, RefusesTheWebPageBeforeListening) {
    ChildProcess service;
    ASSERT_TRUE(service.Start(RPC_SERVICE_PATH, {"--web", "0"}));
    std::string line;
    EXPECT_FALSE(service.ReadLine(line, 10000)) << "neither a page nor a pipe: " << line;
    int code = -1;
    ASSERT_TRUE(service.Wait(10000, code));
    EXPECT_EQ(code, 1);
}
