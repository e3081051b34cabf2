// A service that never stops sending Message frames: the client still
// publishes its presence, since each turn of its I/O thread handles a bounded
// number of frames before it writes. The test plays that service on the real
// pipe, keeping the client's side of it full.
#include <gtest/gtest.h>

#include <string>

#include "rpc/presence_client.h"
#include "tools/rpc_service/service_frames.h"
#include "tools/rpc_service/service_pipe.h"

namespace {

namespace op = service_frames;

const std::string kReady = R"({"cmd":"DISPATCH","data":{"v":1,"user":{"id":"1"}},"evt":"READY","nonce":null})";
constexpr int kWaitMs = 5000;
// The presence goes out on the first turn after READY, while the first few
// batches are read. A client that reads for as long as frames keep coming
// lets hundreds of thousands go by first, and often never gets to write.
constexpr int kFloodLimit = 50 * 1000;
// Small frames written in one go between two looks at what the client sent:
// far more than the client can read and parse in the time the service takes
// to write them, so its side of the pipe never runs empty.
constexpr int kFramesPerBatch = 1000;

// Events the client reads, parses and dispatches, and then drops.
std::string NoiseBatch() {
    const std::string noise = op::Encode(op::kMessage, R"({"cmd":"DISPATCH","evt":"NOISE","nonce":null,"data":{}})");
    std::string batch;
    for (int n = 0; n < kFramesPerBatch; ++n) batch += noise;
    return batch;
}

TEST(ClientFlood, PresenceIsPublishedWhileTheServiceFloodsMessages) {
    ServicePipe service;
    std::string error;
    ASSERT_TRUE(service.Listen(0, error)) << error;
    RichPresence presence;
    presence.state = "flooded";
    rpc_update_presence(&presence);
    rpc_initialize("1234", nullptr, 0, nullptr);

    ASSERT_TRUE(service.Accept(kWaitMs));
    op::Frame frame;
    ASSERT_EQ(op::Read(service, frame, kWaitMs), op::ReadResult::Frame);
    ASSERT_EQ(frame.opcode, op::kHandshake);
    const std::string ready = op::Encode(op::kMessage, kReady);
    ASSERT_TRUE(service.WriteAll(ready.data(), ready.size()));

    const std::string noise = NoiseBatch();
    bool published = false;
    int framesSent = 0;
    while (!published && framesSent < kFloodLimit) {
        ASSERT_TRUE(service.WriteAll(noise.data(), noise.size())) << "the client went";
        framesSent += kFramesPerBatch;
        // The client writes each frame whole and small, so a look that finds
        // nothing has not taken part of one.
        while (op::Read(service, frame, 0) == op::ReadResult::Frame) {
            if (frame.opcode == op::kMessage && frame.payload.find("\"SET_ACTIVITY\"") != std::string::npos) {
                EXPECT_NE(frame.payload.find("\"state\":\"flooded\""), std::string::npos) << frame.payload;
                published = true;
            }
        }
    }
    EXPECT_TRUE(published) << "no presence in " << framesSent << " frames of flood";
    rpc_shutdown();
}

}  // namespace
