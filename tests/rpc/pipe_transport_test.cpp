// The transport against a real service end listening in this process: a Unix
// socket in a private directory on Linux, a named pipe under Wine.

#include "rpc/pipe_transport.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tools/rpc_service/service_pipe.h"

namespace {

constexpr int kWaitMs = 5000;

class PipeTransportTest : public ::testing::Test {
protected:
    void TearDown() override { transport->Close(); }

    static void Listen(ServicePipe& service, int digit) {
        std::string error;
        ASSERT_TRUE(service.Listen(digit, error)) << error;
    }

    // Opens the transport to `service` and takes the connection there. A
    // Windows service end takes a new client only once it has let go of the
    // last one.
    void Connect(ServicePipe& service) {
        if (service.HasClient()) service.Disconnect();
        ASSERT_TRUE(transport->Open());
        ASSERT_TRUE(service.Accept(kWaitMs));
    }

    // Bytes written by the transport arrive at `service`, in order.
    void ExpectDelivered(ServicePipe& service, const std::string& bytes) {
        ASSERT_TRUE(transport->Write(bytes.data(), bytes.size()));
        std::string received(bytes.size(), '\0');
        ASSERT_EQ(service.ReadExact(&received[0], received.size(), kWaitMs), PipeRead::Done);
        EXPECT_EQ(received, bytes);
    }

    // Reads until the block is there or the time is up.
    bool ReadSoon(void* destination, std::size_t count) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (!transport->Read(destination, count)) {
            if (!transport->pipeOpen || std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    void ExpectClosed() {
        EXPECT_FALSE(transport->pipeOpen);
        EXPECT_EQ(transport->handle, -1);
    }

    PipeTransport* transport = PipeTransport::Create();
};

TEST_F(PipeTransportTest, CreateHandsOutOneClosedInstance) {
    EXPECT_EQ(PipeTransport::Create(), transport);
    ExpectClosed();
    PipeTransport* mine = PipeTransport::Create();
    PipeTransport::Destroy(mine);
    EXPECT_EQ(mine, nullptr);
    ExpectClosed();
}

TEST_F(PipeTransportTest, OpenFindsTheServiceOnDigitThree) {
    ServicePipe service;
    Listen(service, 3);
    Connect(service);
    EXPECT_TRUE(transport->pipeOpen);
    ExpectDelivered(service, "hello");
}

TEST_F(PipeTransportTest, OpenFailsWithoutAnyService) {
    EXPECT_FALSE(transport->Open());
    ExpectClosed();
    char byte;
    EXPECT_FALSE(transport->Read(&byte, 1));
    EXPECT_FALSE(transport->Write("x", 1));
}

TEST_F(PipeTransportTest, OpenTakesTheFirstOfSeveralServices) {
    ServicePipe seven, five;
    Listen(seven, 7);
    Listen(five, 5);
    Connect(five);
    ExpectDelivered(five, "first");
}

TEST_F(PipeTransportTest, ReadIsAllOrNothingAndNeverWaits) {
    ServicePipe service;
    Listen(service, 0);
    Connect(service);
    ASSERT_TRUE(service.WriteAll("12345", 5));

    char block[8] = {};
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (std::chrono::steady_clock::now() < until) {
        ASSERT_FALSE(transport->Read(block, sizeof block));
        ASSERT_TRUE(transport->pipeOpen);
    }

    ASSERT_TRUE(service.WriteAll("678", 3));
    ASSERT_TRUE(ReadSoon(block, sizeof block));
    EXPECT_EQ(std::string(block, sizeof block), "12345678");
    EXPECT_FALSE(transport->Read(block, 1));
    EXPECT_TRUE(transport->pipeOpen);
}

TEST_F(PipeTransportTest, LargeBlocksArriveWhole) {
    ServicePipe service;
    Listen(service, 0);
    Connect(service);
    std::string big(65536, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(service.WriteAll(big.data(), big.size()));
    std::string received(big.size(), '\0');
    ASSERT_TRUE(ReadSoon(&received[0], received.size()));
    EXPECT_EQ(received, big);
    ExpectDelivered(service, big);
}

TEST_F(PipeTransportTest, ReadFindsThePeerGone) {
    ServicePipe service;
    Listen(service, 0);
    Connect(service);
    ASSERT_TRUE(service.WriteAll("ab", 2));
    // On Windows the service's end waits until the client has read what is
    // still in the pipe, so it closes on a thread of its own.
    auto closing = std::async(std::launch::async, [&service] { service.Disconnect(); });

    char pair[2];
    ASSERT_TRUE(ReadSoon(pair, 2)) << "what was written before the close is still read";
    EXPECT_EQ(std::string(pair, 2), "ab");
    char byte;
    EXPECT_FALSE(ReadSoon(&byte, 1));
    ExpectClosed();
    closing.get();
}

TEST_F(PipeTransportTest, WriteFailsOnceThePeerIsGoneAndLeavesTheTransportOpen) {
    ServicePipe service;
    Listen(service, 0);
    Connect(service);
    service.Stop();
    bool failed = false;
    for (int attempt = 0; attempt < 100 && !failed; ++attempt) failed = !transport->Write("lost", 4);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(transport->pipeOpen);
}

TEST_F(PipeTransportTest, ZeroLengthWritesSendNothing) {
    EXPECT_TRUE(transport->Write(nullptr, 0));  // even while closed
    ServicePipe service;
    Listen(service, 0);
    Connect(service);
    EXPECT_TRUE(transport->Write("x", 0));
    ExpectDelivered(service, "y");
    EXPECT_FALSE(transport->Write(nullptr, 1));
    char byte;
    EXPECT_FALSE(transport->Read(nullptr, 1));
    EXPECT_TRUE(transport->pipeOpen);
    EXPECT_FALSE(transport->Read(&byte, 1));
}

TEST_F(PipeTransportTest, CloseTwiceAndDestroyLeaveItClosed) {
    ServicePipe service;
    Listen(service, 0);
    Connect(service);
    EXPECT_TRUE(transport->Close());
    EXPECT_TRUE(transport->Close());
    ExpectClosed();
    Connect(service);
    PipeTransport* owner = transport;
    PipeTransport::Destroy(owner);
    EXPECT_EQ(owner, nullptr);
    ExpectClosed();
}

// A second client keeps the single name busy. The transport waits for it a
// little, and gets through once the service has finished with the first
// client.
TEST_F(PipeTransportTest, BusyNameIsWaitedForBriefly) {
    ServicePipe zero, one;
    Listen(zero, 0);
    Listen(one, 1);
    PipeTransport first;
    ASSERT_TRUE(first.Open());

    auto opened = std::async(std::launch::async, [this] { return transport->Open(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyNameWaitMs / 5));
    ASSERT_TRUE(zero.Accept(kWaitMs));  // the first client
    first.Close();
    ASSERT_TRUE(zero.Accept(kWaitMs));  // lets the waiting one through
    ASSERT_TRUE(opened.get());
    ExpectDelivered(zero, "waited");
    EXPECT_FALSE(one.Accept(0));
}

// A name that stays busy is passed over for the next one.
TEST_F(PipeTransportTest, BusyNameThatStaysBusyIsPassedOver) {
    ServicePipe zero, one;
    Listen(zero, 0);
    Listen(one, 1);
    PipeTransport first;
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(transport->Open());
    ASSERT_TRUE(one.Accept(kWaitMs));
    ExpectDelivered(one, "next");
    first.Close();
}

// Every name busy: an opening would take a busy wait per name. A client
// that stops ends it at once instead.
TEST_F(PipeTransportTest, StoppingEndsTheWaitForBusyNames) {
    ServicePipe services[10];
    PipeTransport holders[10];
    // From the last name down, so that each holder finds its name first.
    for (int digit = 9; digit >= 0; --digit) {
        Listen(services[digit], digit);
        ASSERT_TRUE(holders[digit].Open()) << "name " << digit;
    }
    std::atomic<bool> running{true};
    auto opened = std::async(std::launch::async, [this, &running] { return transport->Open(&running); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    running = false;
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_EQ(opened.wait_for(std::chrono::milliseconds(kOpenDeadlineMs / 4)), std::future_status::ready)
        << "the opening went on after the stop";
    EXPECT_FALSE(opened.get());
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(kBusyNameWaitMs));
    ExpectClosed();
    for (PipeTransport& holder : holders) holder.Close();
}

}  // namespace
