// Linux backend of the launch operations. The job's counterpart is the
// parent-death signal: every companion asks the kernel, before it runs any
// code of its own, to be killed when its parent ends. The kernel sends that
// signal when the *thread* that forked ends, so each companion is forked by a
// thread of the addon's own that lives exactly as long as the companion and
// reaps it: the companion is then tied to the host process, not to whichever
// thread (a worker thread's included) asked for it, and none is left as a
// zombie.

#include "launch.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <future>
#include <memory>

extern char** environ;

namespace corvane {

const char kPathSeparator[] = "/";
const char kExecutableSuffix[] = "";

namespace {

// Blocks every signal in the calling thread for its lifetime: a thread
// created meanwhile inherits the full mask.
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

// Older C libraries do not declare close_range, and kernels before 5.11 lack
// it (or its CLOSE_RANGE_CLOEXEC flag): the system call is made directly where
// its number is known, and fails like a missing one where it is not.
#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif
#ifdef SYS_close_range
constexpr long kCloseRangeCall = SYS_close_range;
#else
constexpr long kCloseRangeCall = -1;
#endif

void MarkCloseOnExec(int descriptor) {
    int flags = fcntl(descriptor, F_GETFD);
    if (flags >= 0 && (flags & FD_CLOEXEC) == 0) fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC);
}

// The kernel's record of one directory entry, as getdents64 fills it.
struct DirectoryEntry {
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

// Marks every open descriptor from 3 up that /proc/self/fd lists, read with
// the system call itself: the C library's directory functions allocate, which
// a forked child of a threaded host must not do. Marking changes no entry, so
// the listing stays whole while it is walked. False when /proc is not there.
bool MarkListedDescriptors() {
    int directory = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) return false;
    alignas(DirectoryEntry) char entries[4096];
    long filled;
    while ((filled = syscall(SYS_getdents64, directory, entries, sizeof entries)) > 0) {
        for (long at = 0; at < filled;) {
            const auto* entry = reinterpret_cast<const DirectoryEntry*>(entries + at);
            at += entry->length;
            int descriptor = 0;
            const char* digit = entry->name;
            for (; *digit >= '0' && *digit <= '9'; ++digit) descriptor = descriptor * 10 + (*digit - '0');
            if (*digit == '\0' && digit != entry->name && descriptor > 2 && descriptor != directory) {
                MarkCloseOnExec(descriptor);
            }
        }
    }
    close(directory);
    return filled == 0;
}

// Like a Windows child that inherits no handles: only standard input, output
// and error stay open across exec. One call where the kernel has it; else each
// open descriptor is marked, found in /proc or, without it, tried up to the
// limit on open files.
void NothingInheritedBeyondStandardStreams() {
    if (syscall(kCloseRangeCall, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    if (MarkListedDescriptors()) return;
    struct rlimit limit = {};
    rlim_t end = getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
    // No limit names no number: then the kernel's default ceiling (fs.nr_open).
    if (end == RLIM_INFINITY) end = rlim_t{1} << 20;
    for (rlim_t descriptor = 3; descriptor < end; ++descriptor) MarkCloseOnExec(static_cast<int>(descriptor));
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
    NothingInheritedBeyondStandardStreams();
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

namespace {

// Everything one start needs, owned by the thread that forks the companion:
// the program (an absolute path), its arguments, its working directory, and
// the promise of the companion's pid (or -1 when it did not start).
struct CompanionStart {
    std::vector<std::string> arguments;
    std::string directory;
    pid_t host = 0;
    std::promise<pid_t> started;
};

// Forks the companion and learns from the status pipe whether its program
// runs. A companion that did not start is reaped here; -1 then.
pid_t ForkCompanion(CompanionStart& start) {
    std::vector<char*> argv;
    for (std::string& argument : start.arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int statusPipe[2];
    if (pipe2(statusPipe, O_CLOEXEC) != 0) return -1;
    pid_t child = fork();
    if (child == 0) becomeCompanion(start.host, argv.data(), start.directory.c_str(), statusPipe[1]);
    close(statusPipe[1]);
    if (child < 0) {
        close(statusPipe[0]);
        return -1;
    }
    int childError = 0;
    ssize_t received;
    do {
        received = read(statusPipe[0], &childError, sizeof childError);
    } while (received < 0 && errno == EINTR);
    close(statusPipe[0]);
    // Anything but a clean end of the pipe means the program never started.
    if (received != 0) {
        kill(child, SIGKILL);
        Reap(child);
        return -1;
    }
    return child;
}

// The companion's parent thread: it starts the companion, reports the
// result, and stays until the companion has ended, so that the parent-death
// signal comes only with the end of the host process. It runs with every
// signal blocked (the mask it was created with), so the host's signals never
// land on it, and a forked child runs none of the host's handlers before it
// resets them. Node owns SIGCHLD and waits only for its own children, by pid;
// waiting here by pid as well leaves its children and its signal handling
// untouched.
void* StartAndReap(void* raw) {
    std::unique_ptr<CompanionStart> start(static_cast<CompanionStart*>(raw));
    pid_t child = ForkCompanion(*start);
    start->started.set_value(child);
    if (child > 0) Reap(child);
    return nullptr;
}

// A relative path as the current working directory resolves it, so that it
// still names the same file after the child changes directory. An absolute
// path is kept as it is.
std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::error_code failed;
    std::filesystem::path resolved = std::filesystem::canonical(path, failed);
    if (failed) resolved = std::filesystem::absolute(path, failed);
    return failed ? path : resolved.string();
}

}  // namespace

std::optional<std::uint32_t> startInJob(ChildJob job, const std::vector<std::string>& arguments,
                                        const std::string& workingDirectory) {
    if (!job || arguments.empty()) return std::nullopt;
    auto start = std::make_unique<CompanionStart>();
    start->arguments = arguments;
    start->arguments[0] = Absolute(arguments[0]);
    start->directory = Absolute(workingDirectory);
    start->host = getpid();
    std::future<pid_t> started = start->started.get_future();

    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return std::nullopt;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t parent;
    bool created;
    {
        AllSignalsBlocked blocked;  // the thread inherits the full mask
        created = pthread_create(&parent, &attributes, StartAndReap, start.get()) == 0;
    }
    pthread_attr_destroy(&attributes);
    if (!created) return std::nullopt;
    start.release();  // the thread owns it now
    pid_t child = started.get();
    if (child <= 0) return std::nullopt;
    return static_cast<std::uint32_t>(child);
}

}  // namespace corvane
