// Every pipe name is busy with another client: the client's I/O thread is
// inside its opening, waiting for a name to free. Shutting down ends that
// wait at once instead of after the opening's own deadline.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "rpc/pipe_transport.h"
#include "rpc/presence_client.h"
#include "tools/rpc_service/service_pipe.h"

namespace {

TEST(ClientBusyPipe, ShutdownEndsTheWaitForBusyNames) {
    ServicePipe services[10];
    PipeTransport holders[10];
    // From the last name down, so that each holder finds its name first.
    for (int digit = 9; digit >= 0; --digit) {
        std::string error;
        ASSERT_TRUE(services[digit].Listen(digit, error)) << error;
        ASSERT_TRUE(holders[digit].Open()) << "name " << digit;
    }
    rpc_initialize("1234", nullptr, 0, nullptr);
    // The first attempt is due at once; let it reach the busy names.
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyNameWaitMs / 2));
    const auto started = std::chrono::steady_clock::now();
    rpc_shutdown();
    // Without the stop, the opening would go on for up to kOpenDeadlineMs.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kOpenDeadlineMs / 4));
    for (PipeTransport& holder : holders) holder.Close();
}

}  // namespace
