// Linux backend of the launch operations. The job's counterpart is the
// parent-death signal: every companion asks the kernel, before it runs any
// code of its own, to be killed when the host ends. Companions are reaped by
// a small waiter thread each, so none is left as a zombie.

#include "launch.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvane {

const char kPathSeparator[] = "/";
const char kExecutableSuffix[] = "";

namespace {

// Blocks every signal in the calling thread for its lifetime: a forked child
// must not run the host's handlers before it resets them, and a waiter thread
// created meanwhile inherits the full mask, so the host's signals never land
// on it.
class AllSignalsBlocked {
public:
    AllSignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous_);
    }
    ~AllSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

private:
    sigset_t previous_;
};

void Reap(pid_t child) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void* ReapWhenEnded(void* child) {
    Reap(static_cast<pid_t>(reinterpret_cast<std::intptr_t>(child)));
    return nullptr;
}

// Node owns SIGCHLD and waits only for its own children, by pid; waiting here
// by pid as well leaves its children and its signal handling untouched.
bool ReapInBackground(pid_t child) {
    AllSignalsBlocked blocked;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    pthread_t waiter;
    bool started = pthread_create(&waiter, &attributes, ReapWhenEnded,
                                  reinterpret_cast<void*>(static_cast<std::intptr_t>(child))) == 0;
    pthread_attr_destroy(&attributes);
    return started;
}

[[noreturn]] void reportFailure(int statusPipe) {
    int error = errno;
    ssize_t written = write(statusPipe, &error, sizeof error);
    (void)written;
    _exit(127);
}

// A descriptor from 0 to 2 that the host closed or marked close-on-exec (Node
// marks its own) would be missing in the companion: the first files it opens,
// its pidfd and its RPC socket, would take those numbers, and whatever is
// written to standard output or error (a sanitizer report, Lua's panic
// message, a libc abort message) would go into the RPC socket. Each such
// descriptor gets /dev/null instead. The lower ones are fixed first, so the
// one opened for descriptor n is never below n.
bool StandardStreamsOnDevNull() {
    for (int stream = 0; stream <= 2; ++stream) {
        int flags = fcntl(stream, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) continue;
        int null = open("/dev/null", O_RDWR);
        if (null < 0) return false;
        if (null == stream) continue;
        bool placed = dup2(null, stream) == stream;
        close(null);
        if (!placed) return false;
    }
    return true;
}

// Runs in the forked child, so it calls only async-signal-safe functions; its
// inputs were all prepared before the fork. A failure before the program runs
// is written to the status pipe; a successful exec closes the pipe unwritten.
[[noreturn]] void becomeCompanion(pid_t host, char* const argv[], const char* directory,
                                  int statusPipe) {
    // A host without standard streams gave the status pipe one of their
    // numbers; move it out of the way of /dev/null.
    if (statusPipe <= 2) {
        int moved = fcntl(statusPipe, F_DUPFD_CLOEXEC, 3);
        if (moved < 0) reportFailure(statusPipe);
        statusPipe = moved;
    }

    // Dispositions that the host chose (Node ignores SIGPIPE) would survive
    // exec; the companion starts from the defaults.
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &byDefault, nullptr);

    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) reportFailure(statusPipe);
    // The host may have ended before the request took effect; then no signal
    // will come, and the companion must not outlive it.
    if (getppid() != host) {
        errno = ESRCH;
        reportFailure(statusPipe);
    }

    if (!StandardStreamsOnDevNull()) reportFailure(statusPipe);
    // Like a Windows child that inherits no handles: only standard input,
    // output and error stay open across exec. Best effort on older kernels.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    if (chdir(directory) != 0) reportFailure(statusPipe);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv, environ);
    reportFailure(statusPipe);
}

}  // namespace

// There is nothing to create: the job is the host process itself, and a
// companion ties itself to whichever process started it. The handle records
// the host's pid so that the job is never empty.
ChildJob createChildJob() {
    return ChildJob{static_cast<std::uintptr_t>(getpid())};
}

std::string moduleDirectory() {
    Dl_info module = {};
    std::string path;
    if (dladdr(reinterpret_cast<void*>(&moduleDirectory), &module) != 0 && module.dli_fname != nullptr) {
        path = module.dli_fname;
    } else {
        // Like a failed module lookup on Windows: the host executable's file.
        char executable[4096] = {};
        ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
        if (length > 0) path.assign(executable, static_cast<std::size_t>(length));
    }
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool pathExists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

// A 64-bit reader reads 32-bit processes too, and it is the only build here.
bool isNative64BitProcess(std::uint32_t) {
    return true;
}

std::optional<std::uint32_t> startInJob(ChildJob job, const std::vector<std::string>& arguments,
                                        const std::string& workingDirectory) {
    if (!job || arguments.empty()) return std::nullopt;
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t host = getpid();

    int statusPipe[2];
    if (pipe2(statusPipe, O_CLOEXEC) != 0) return std::nullopt;
    pid_t child;
    {
        AllSignalsBlocked blocked;
        child = fork();
        if (child == 0) becomeCompanion(host, argv.data(), workingDirectory.c_str(), statusPipe[1]);
    }
    close(statusPipe[1]);
    if (child < 0) {
        close(statusPipe[0]);
        return std::nullopt;
    }
    int childError = 0;
    ssize_t received;
    do {
        received = read(statusPipe[0], &childError, sizeof childError);
    } while (received < 0 && errno == EINTR);
    close(statusPipe[0]);

    // Anything but a clean end of the pipe means the program never started;
    // without a waiter the companion could not be reaped, so it is not kept.
    if (received != 0 || !ReapInBackground(child)) {
        kill(child, SIGKILL);
        Reap(child);
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(child);
}

}  // namespace corvane
