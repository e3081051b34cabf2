// What only the socket transport can tell: a Unix socket shows the reader
// that its peer has hung up, so the part of a block that a vanished peer left
// behind makes a broken connection at once (a named pipe keeps reporting
// such a part as data still arriving, until the next write fails); and it
// names the user its peer runs as, so a socket that another user listens on
// in a shared directory is never taken for the service.

#include <cstdlib>
#include <filesystem>
#include <string>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Listens on `path` as the user `uid` in a child process, which says so on
// `ready` and then waits to be killed. Only async-signal-safe calls follow
// the fork.
pid_t ListenAsUser(uid_t uid, const std::string& path, int ready) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    pid_t child = fork();
    if (child != 0) return child;
    int fd = -1;
    bool listening = setgid(uid) == 0 && setuid(uid) == 0 && (fd = socket(AF_UNIX, SOCK_STREAM, 0)) >= 0 &&
                     bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 8) == 0;
    char answer = listening ? 'y' : 'n';
    if (write(ready, &answer, 1) != 1 || !listening) _exit(1);
    for (;;) pause();
}

// The first name is held by another user; the transport passes it over as
// if nobody listened there and connects to the service on the next name.
TEST(PipeTransportPosixTest, ASocketOfAnotherUserIsPassedOver) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can listen as another user here";
    const uid_t nobody = 65534;
    // A directory every user may create sockets in, like /tmp.
    std::string shared = (std::filesystem::temp_directory_path() / "corvane-shared-XXXXXX").string();
    ASSERT_NE(mkdtemp(&shared[0]), nullptr);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string previous = std::getenv("XDG_RUNTIME_DIR");
    setenv("XDG_RUNTIME_DIR", shared.c_str(), 1);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t impostor = ListenAsUser(nobody, shared + "/corvane-ipc-0", ready[1]);
    char answer = 0;
    EXPECT_EQ(read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y') << "the child could not listen as uid " << nobody;
    ServicePipe service;
    std::string error;
    EXPECT_TRUE(service.Listen(1, error)) << error;

    PipeTransport* transport = PipeTransport::Create();
    EXPECT_TRUE(transport->Open());
    EXPECT_TRUE(service.Accept(5000)) << "the transport stopped at the other user's socket";
    EXPECT_TRUE(transport->Write("mine", 4));
    char received[4] = {};
    EXPECT_EQ(service.ReadExact(received, sizeof received, 5000), PipeRead::Done);
    EXPECT_EQ(std::string(received, sizeof received), "mine");

    transport->Close();
    service.Stop();
    kill(impostor, SIGKILL);
    waitpid(impostor, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
    std::filesystem::remove_all(shared);
}

}  // namespace
