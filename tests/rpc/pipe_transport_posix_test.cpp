// What only the socket transport can tell: a Unix socket shows the reader
// that its peer has hung up, so the part of a block that a vanished peer left
// behind makes a broken connection at once. A named pipe keeps reporting
// such a part as data still arriving, until the next write fails.

#include <string>

#include <gtest/gtest.h>

#include "rpc/pipe_transport.h"
#include "tools/rpc_service/service_pipe.h"

namespace {

TEST(PipeTransportPosixTest, PartOfABlockLeftByAPeerThatWentIsABrokenPipe) {
    ServicePipe service;
    std::string error;
    ASSERT_TRUE(service.Listen(0, error)) << error;
    PipeTransport* transport = PipeTransport::Create();
    ASSERT_TRUE(transport->Open());
    ASSERT_TRUE(service.Accept(5000));
    ASSERT_TRUE(service.WriteAll("12345", 5));

    char block[8];
    EXPECT_FALSE(transport->Read(block, sizeof block));
    EXPECT_TRUE(transport->pipeOpen) << "the rest may still come";
    service.Stop();
    EXPECT_FALSE(transport->Read(block, sizeof block));
    EXPECT_FALSE(transport->pipeOpen);
    EXPECT_EQ(transport->handle, -1);
}

}  // namespace
