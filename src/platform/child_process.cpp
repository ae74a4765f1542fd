// Running a child with its output captured into a file.
//
// Every descriptor made here is close-on-exec, and the child closes all but
// its standard ones before it starts, so it receives nothing of this process
// but the three it is given: a pipe that is never written as
// standard input, and the write end of one pipe as both standard output and
// standard error. The parent copies that pipe into the output file until
// every writer has closed it, then waits for the child by a doubling
// schedule and kills it when it is still running after the last query.
#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

extern char** environ;

namespace kestab::platform {

namespace {

constexpr std::size_t kCopyBufferSize = 32768;
constexpr std::size_t kReadSize = kCopyBufferSize - 1;

// An owned descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        // close() is not retried on EINTR: on Linux the descriptor is gone.
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Keeps `fd` clear of 0, 1 and 2, so that placing the child's standard
// descriptors never overwrites another pipe end (this happens when the
// process was started with one of them closed).
bool moveAboveStandard(Fd& fd) {
    if (fd.get() > 2) return true;
    const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return false;
    fd.reset(moved);
    return true;
}

bool makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return moveAboveStandard(readEnd) && moveAboveStandard(writeEnd);
}

int openOutputFile(const std::string& path) {
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies the pipe into the file until every write end is closed, a read
// fails, or a write fails.
void copyOutput(int pipeRead, int file) {
    char buffer[kCopyBufferSize];
    for (;;) {
        const ssize_t n = ::read(pipeRead, buffer, kReadSize);
        if (n > 0) {
            if (!writeAll(file, buffer, static_cast<std::size_t>(n))) return;
        } else if (n == 0) {
            return;  // the normal end: the child's copies are all closed
        } else if (errno != EINTR) {
            return;
        }
    }
}

std::int64_t nowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMs(std::int64_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::int32_t exitStatusOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return status;
}

// The child of one run: status queries, waiting for its end, the kill.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {
#ifdef SYS_pidfd_open
        const long fd = ::syscall(SYS_pidfd_open, pid_, 0);
        if (fd >= 0) pidfd_.reset(static_cast<int>(fd));
#endif
    }

    struct Status {
        bool ended = false;
        std::optional<std::int32_t> exitCode;  // empty when it cannot be known
    };

    // One status query; reaps the child when it has ended.
    Status query() {
        int status = 0;
        for (;;) {
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                reaped_ = true;
                return {true, exitStatusOf(status)};
            }
            if (r == 0) return {};
            if (errno == EINTR) continue;
            // Reaped elsewhere (SIGCHLD ignored): gone, with no status.
            reaped_ = true;
            return {true, std::nullopt};
        }
    }

    // Waits until the child has ended or the monotonic clock reaches
    // `deadline`, whichever comes first; true when it ended. Does not reap.
    bool waitForEnd(std::int64_t deadline) {
        for (;;) {
            if (hasEnded()) return true;
            const std::int64_t remaining = deadline - nowMs();
            if (remaining <= 0) return false;
            if (pidfd_.valid()) {
                pollfd p{pidfd_.get(), POLLIN, 0};
                const int r = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(remaining, 1 << 30)));
                if (r < 0 && errno != EINTR) pidfd_.reset();  // fall back to slices
            } else {
                sleepMs(std::min<std::int64_t>(remaining, kSliceMs));
            }
        }
    }

    void killAndReap() {
        if (!reaped_) ::kill(pid_, SIGKILL);
        reap();
    }

    void reap() {
        if (reaped_) return;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }

private:
    static constexpr std::int64_t kSliceMs = 5;

    bool hasEnded() const {
        if (reaped_) return true;
        siginfo_t info{};
        for (;;) {
            if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
                return info.si_pid != 0;
            if (errno != EINTR) return true;  // no such child any more
        }
    }

    pid_t pid_;
    Fd pidfd_;
    bool reaped_ = false;
};

// Spawns `program`; 0 on success, else the error number.
int spawnChild(const std::string& program, const std::vector<std::string>& args, int stdinFd, int outFd, pid_t& pid) {
    std::vector<std::string> argvStrings;
    argvStrings.reserve(args.size() + 1);
    argvStrings.push_back(program);
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argvStrings.size() + 1);
    for (auto& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    int rc = ::posix_spawn_file_actions_init(&actions);
    if (rc != 0) return rc;
    posix_spawnattr_t attr;
    rc = ::posix_spawnattr_init(&attr);
    if (rc != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return rc;
    }

    // dup2 clears close-on-exec on the copies; the originals stay behind.
    rc = ::posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&actions, outFd, 2);
        // Descriptors this process inherited or opened without close-on-exec
        // would otherwise reach the child as well.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#else
#error "closing the inherited descriptors needs posix_spawn_file_actions_addclosefrom_np (glibc 2.34)"
#endif

    // The child starts with no blocked signals and with the default action
    // for the signals this process may have chosen to ignore.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGCHLD})
        sigaddset(&defaults, sig);
    if (rc == 0) rc = ::posix_spawnattr_setsigmask(&attr, &none);
    if (rc == 0) rc = ::posix_spawnattr_setsigdefault(&attr, &defaults);
    if (rc == 0) rc = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    if (rc == 0) rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);

    ::posix_spawnattr_destroy(&attr);
    ::posix_spawn_file_actions_destroy(&actions);
    return rc;
}

}  // namespace

CaptureOutcome runCaptured(const std::string& program, const std::vector<std::string>& args,
                           const std::string& outputPath, std::int32_t& exitCode, const WaitSchedule& schedule) {
    Fd outRead, outWrite, inRead, inWrite;
    if (!makePipe(outRead, outWrite)) return CaptureOutcome::SetupFailed;
    if (!makePipe(inRead, inWrite)) return CaptureOutcome::SetupFailed;

    Fd file(openOutputFile(outputPath));
    if (!file.valid()) return CaptureOutcome::SetupFailed;

    pid_t pid = -1;
    if (spawnChild(program, args, inRead.get(), outWrite.get(), pid) != 0) return CaptureOutcome::StartFailed;
    Child child(pid);

    // From here only the child holds a write end of the output pipe, so the
    // copy ends when the child has closed its copies. The input pipe is
    // released at once: a child that reads its standard input sees its end
    // instead of waiting forever.
    outWrite.reset();
    inRead.reset();
    inWrite.reset();

    copyOutput(outRead.get(), file.get());
    // The read end stays open through the wait: a child still writing after
    // a copy that stopped early blocks, and the wait decides about it.
    file.reset();

    // Queries at 0, p, 3p, 7p, ... after the end of the output, with pauses
    // p, 2p, 4p, ...; no query follows the last pause. Waking early when the
    // child ends only moves the next query forward: its answer would be the
    // same at its scheduled time.
    const int queries = std::max(schedule.queries, 1);
    std::int64_t pause = std::max(schedule.firstPauseMs, 0);
    std::int64_t deadline = nowMs();
    for (int q = 0; q < queries; ++q) {
        const Child::Status status = child.query();
        if (status.ended) {
            if (status.exitCode) exitCode = *status.exitCode;
            return CaptureOutcome::Ended;
        }
        deadline += pause;
        pause = std::min<std::int64_t>(pause * 2, std::int64_t{1} << 40);
        // An end during the last pause comes too late: it is not queried.
        if (child.waitForEnd(deadline) && q + 1 == queries) break;
    }
    child.killAndReap();
    exitCode = kKilledExitCode;
    return CaptureOutcome::Killed;
}

}  // namespace kestab::platform
