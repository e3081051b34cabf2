// What only the socket transport can tell: a Unix socket shows the reader
// that its peer has hung up, so the part of a block that a vanished peer left
// behind makes a broken connection at once (a named pipe keeps reporting
// such a part as data still arriving, until the next write fails); and it
// names the user its peer runs as, so a socket that another user listens on
// in a shared directory is never taken for the service; and whatever another
// user leaves at a name in such a directory does not end the search.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <fcntl.h>
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

constexpr uid_t kNobody = 65534;

// A runtime directory every user may create sockets in, like /tmp, for the
// test's lifetime.
class SharedRuntimeDirectory {
public:
    SharedRuntimeDirectory() {
        path_ = (std::filesystem::temp_directory_path() / "corvane-shared-XXXXXX").string();
        if (mkdtemp(&path_[0]) == nullptr || chmod(path_.c_str(), 01777) != 0) path_.clear();
        const char* previous = std::getenv("XDG_RUNTIME_DIR");
        previous_ = previous != nullptr ? previous : "";
        setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
    }
    ~SharedRuntimeDirectory() {
        setenv("XDG_RUNTIME_DIR", previous_.c_str(), 1);
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    bool Made() const { return !path_.empty(); }
    std::string Name(int digit) const { return path_ + "/corvane-ipc-" + std::to_string(digit); }

private:
    std::string path_;
    std::string previous_;
};

sockaddr_un AddressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

// Listens on `path` as the user `uid` in a child process, which says so on
// `ready` and then waits to be killed. Only async-signal-safe calls follow
// the fork.
pid_t ListenAsUser(uid_t uid, const std::string& path, int ready) {
    sockaddr_un address = AddressOf(path);
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
    SharedRuntimeDirectory shared;
    ASSERT_TRUE(shared.Made());

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t impostor = ListenAsUser(kNobody, shared.Name(0), ready[1]);
    char answer = 0;
    EXPECT_EQ(read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y') << "the child could not listen as uid " << kNobody;
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
}

// What a squatter can leave at the first name. Each makes connect fail
// with an error of its own; none is the service, so the search goes on.
enum class Squatter { ForbiddenStreamSocket, DatagramSocket, PlainFile };

struct SquatterCase {
    const char* name;
    Squatter squatter;
};

// Puts the squatter at `path`; returns the descriptor to keep open, or -1.
int Squat(Squatter squatter, const std::string& path) {
    sockaddr_un address = AddressOf(path);
    const sockaddr* generic = reinterpret_cast<const sockaddr*>(&address);
    switch (squatter) {
    case Squatter::ForbiddenStreamSocket: {
        // The client (another user when the test runs as root) may not
        // connect: EACCES.
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || bind(fd, generic, sizeof address) != 0 || listen(fd, 8) != 0) return -1;
        return chmod(path.c_str(), geteuid() == 0 ? 0600 : 0) == 0 ? fd : -1;
    }
    case Squatter::DatagramSocket: {  // not a stream socket: EPROTOTYPE
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        if (fd < 0 || bind(fd, generic, sizeof address) != 0 || chmod(path.c_str(), 0666) != 0) return -1;
        return fd;
    }
    case Squatter::PlainFile:
        return open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    }
    return -1;
}

// In a child running as another user than the squatter's where the test
// runs as root (root passes every file mode): a service of the child's own
// user on the next name, and the transport's search. The exit code says how
// far it got: 0 connected to the service.
int SearchPastSquatter() {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) return 1;
    ServicePipe service;
    std::string error;
    if (!service.Listen(1, error)) return 2;
    if (!PipeTransport::Create()->Open()) return 3;
    return service.Accept(5000) ? 0 : 4;
}

class SquattedNameTest : public ::testing::TestWithParam<SquatterCase> {};

TEST_P(SquattedNameTest, IsPassedOverForTheServiceOnTheNextName) {
    SharedRuntimeDirectory shared;
    ASSERT_TRUE(shared.Made());
    int squatter = Squat(GetParam().squatter, shared.Name(0));
    ASSERT_GE(squatter, 0) << std::strerror(errno);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(SearchPastSquatter());
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: could not change user, 2: no service, 3: no connection, 4: not accepted";
    close(squatter);
}

INSTANTIATE_TEST_SUITE_P(Squatters, SquattedNameTest,
                         ::testing::Values(SquatterCase{"ForbiddenStreamSocket", Squatter::ForbiddenStreamSocket},
                                           SquatterCase{"DatagramSocket", Squatter::DatagramSocket},
                                           SquatterCase{"PlainFile", Squatter::PlainFile}),
                         [](const ::testing::TestParamInfo<SquatterCase>& info) { return info.param.name; });

}  // namespace
