// Running a child with its output captured into a file.
//
// Every descriptor made here is close-on-exec, and the child closes all but
// its standard ones before it starts, so it receives nothing of this process
// but the three it is given: a pipe that is never written as standard input,
// and the write end of one pipe as both standard output and standard error.
// The child leads a process group of its own; every way out kills that group
// before the child is reaped (its pid, and so the group's id, cannot be
// taken by another process until then).
#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/child_group_posix.h"
#include "platform/child_launch_posix.h"
#include "platform/fd.h"
#include "platform/process_setup.h"

namespace kestab::platform {

namespace {

constexpr std::size_t kCopyBufferSize = 32768;
constexpr std::size_t kReadSize = kCopyBufferSize - 1;
// Room in the output pipe, so objdump seldom waits for the copy when the
// copying thread does not get a core at once (the system may allow less).
constexpr int kOutputPipeSize = 1 << 20;
// How long the drained pipe is left to fill. objdump writes some 12 KiB a
// millisecond here: 4 ms fill a fraction of the pipe, even of one left at
// the system's 64 KiB, and took 1 to 3 % off the whole run against 1 ms
// (fewer wake-ups of the copying thread on two cores); 8 ms did no better.
constexpr int kGatherMs = 4;
// Keeps `fd` clear of 0, 1 and 2, so that placing the child's standard
// descriptors never overwrites another pipe end.
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

// Opened without blocking: a FIFO with no reader fails (ENXIO) instead of
// waiting for one. Writes then block as usual. What the file held is cut
// off later, when the child's output begins: cutting off a large old
// listing takes the kernel a millisecond or more, which should not compete
// with the child's start for a core.
Fd openOutputFile(const std::string& path) {
    Fd fd;
    for (;;) {
        fd.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
        if (fd.valid() || errno != EINTR) break;
    }
    if (fd.valid()) {
        const int flags = ::fcntl(fd.get(), F_GETFL);
        if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

// 0 when all of it was written, else the errno of the failed write.
int writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::int64_t nowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int pollMs(std::int64_t ms) { return static_cast<int>(std::clamp<std::int64_t>(ms, 0, 1 << 30)); }

}  // namespace

namespace {

// The child of one run: waiting for its end, the kill of its group, the
// reaping. The group is killed and the child reaped when the owner goes, on
// every path.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {
#ifdef SYS_pidfd_open
        const long fd = ::syscall(SYS_pidfd_open, pid_, 0);
        if (fd >= 0) pidfd_.reset(static_cast<int>(fd));
#endif
    }
    ~Child() { finish(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Readable once the child has ended; -1 when the kernel has none.
    int endFd() const { return pidfd_.get(); }

    // Whether the child has ended; does not reap.
    bool hasEnded() const {
        if (reaped_) return true;
        siginfo_t info{};
        for (;;) {
            if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
                return info.si_pid != 0;
            if (errno != EINTR) return true;  // no such child any more
        }
    }

    // Waits until the child has ended or the monotonic clock reaches
    // `deadline`; true when it ended. Does not reap.
    bool waitForEnd(std::int64_t deadline) const {
        for (;;) {
            if (hasEnded()) return true;
            const std::int64_t remaining = deadline - nowMs();
            if (remaining <= 0) return false;
            if (pidfd_.valid()) {
                pollfd p{pidfd_.get(), POLLIN, 0};
                ::poll(&p, 1, pollMs(remaining));
            } else {
                ::poll(nullptr, 0, pollMs(std::min<std::int64_t>(remaining, kSliceMs)));
            }
        }
    }

    struct Status {
        bool known = false;  // false when the child was reaped elsewhere (SIGCHLD ignored)
        std::int32_t exitCode = 0;
        int signal = 0;
    };

    // Kills the group (the child with it when it still runs), then reaps
    // the child.
    Status finish() {
        if (reaped_) return status_;
        ::kill(-pid_, SIGKILL);
        int raw = 0;
        pid_t r;
        while ((r = ::waitpid(pid_, &raw, 0)) < 0 && errno == EINTR) {
        }
        if (r == pid_ && WIFEXITED(raw)) status_ = {true, WEXITSTATUS(raw), 0};
        if (r == pid_ && WIFSIGNALED(raw)) status_ = {true, 128 + WTERMSIG(raw), WTERMSIG(raw)};
        reaped_ = true;
        groupReaped();
        return status_;
    }

    static constexpr std::int64_t kSliceMs = 5;

private:
    pid_t pid_;
    Fd pidfd_;
    bool reaped_ = false;
    Status status_;
};

enum class CopyEnd {
    OutputEnded,  // every write end closed (or a read error)
    ChildEnded,   // the child ended, something it started still holds the pipe
    Silent,       // nothing came for the silence limit
    WriteFailed,
};

struct CopyResult {
    CopyEnd end = CopyEnd::OutputEnded;
    int error = 0;
};

// Copies the pipe into the file, handing each piece to `sink` once it is
// written, until the output ends, the child ends with the pipe quiet, the
// silence limit passes or a write fails. What the file held is cut off
// before the first piece is written (`cleared` then turns true).
CopyResult copyOutput(int pipeRead, int file, const Child& child, int silenceLimitMs, bool& cleared,
                      const OutputSink& sink) {
    char buffer[kCopyBufferSize];
    std::int64_t silentAt = nowMs() + silenceLimitMs;
    for (;;) {
        const std::int64_t remaining = silentAt - nowMs();
        if (remaining <= 0) return {CopyEnd::Silent};
        pollfd fds[2] = {{pipeRead, POLLIN, 0}, {child.endFd(), POLLIN, 0}};
        const bool endFd = child.endFd() >= 0;
        const int timeout = pollMs(endFd ? remaining : std::min<std::int64_t>(remaining, Child::kSliceMs));
        if (::poll(fds, endFd ? 2 : 1, timeout) < 0 && errno != EINTR) return {CopyEnd::OutputEnded};
        if (fds[0].revents != 0) {
            const ssize_t n = ::read(pipeRead, buffer, kReadSize);
            if (n == 0) return {CopyEnd::OutputEnded};
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return {CopyEnd::OutputEnded};  // left to the wait, like the end
            }
            const auto size = static_cast<std::size_t>(n);
            if (!cleared) {
                bool placeholder = false;  // replaced by this first piece
                if (!clearForRewrite(file, placeholder)) return {CopyEnd::WriteFailed, errno};
                cleared = true;
            }
            if (const int error = writeAll(file, buffer, size)) return {CopyEnd::WriteFailed, error};
            if (sink) sink(std::string_view(buffer, size));
            silentAt = nowMs() + silenceLimitMs;
            // The pipe is drained: let it fill for a moment rather than
            // wake for every small write of the child (the pipe holds far
            // more than the child writes meanwhile), but no longer than the
            // child runs, so its last output is taken as soon as it ends
            // (without a pidfd, before Linux 5.3, the pause is sat out).
            if (size < kReadSize) {
                pollfd end{child.endFd(), POLLIN, 0};
                ::poll(&end, endFd ? 1 : 0, kGatherMs);
            }
        } else if (endFd ? fds[1].revents != 0 : child.hasEnded()) {
            return {CopyEnd::ChildEnded};
        }
    }
}

}  // namespace

std::string errorText(int error) { return std::strerror(error); }

std::string signalName(int signal) { return ::strsignal(signal); }

struct CapturedChild::State {
    std::optional<CaptureResult> failed;  // set-up or start failed: finish() answers this
    Fd outRead;
    Fd file;
    std::optional<Child> child;
};

CapturedChild::CapturedChild(const std::string& program, const std::vector<std::string>& args,
                             const std::string& outputPath)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    Fd outWrite, inRead, inWrite;
    if (!makePipe(s.outRead, outWrite) || !makePipe(inRead, inWrite)) {
        s.failed = CaptureResult{CaptureOutcome::SetupFailed, errno};
        return;
    }
    s.file = openOutputFile(outputPath);
    if (!s.file.valid()) {
        s.failed = CaptureResult{CaptureOutcome::CreateFailed, errno};
        return;
    }
    installGroupKiller();
    Starting start;
    pid_t pid = -1;
    if (const int error = spawnChild(program, args, inRead.get(), outWrite.get(), pid)) {
        emptyFile(s.file.get());  // no old listing is left as if it were this image's
        s.failed = CaptureResult{CaptureOutcome::StartFailed, error};
        return;
    }
    s.child.emplace(pid);
    start.started(pid);
    // From here only the child holds a write end of the output pipe. The
    // input pipe is released at once: a child that reads its standard input
    // sees its end instead of waiting forever.
}

CapturedChild::~CapturedChild() = default;

CaptureResult CapturedChild::finish(std::int32_t& exitCode, const WaitSchedule& schedule, const OutputSink& sink) {
    State& s = *state_;
    if (s.failed) return *s.failed;
    Child& child = *s.child;
    // Done while the child starts up, which takes longer.
    ::fcntl(s.outRead.get(), F_SETPIPE_SZ, kOutputPipeSize);  // a smaller pipe serves as well
    bool cleared = false;
    CopyResult copy = copyOutput(s.outRead.get(), s.file.get(), child, schedule.silenceLimitMs, cleared, sink);
    if (sink) sink({});
    // Without any output the old listing is cut off all the same.
    if (!cleared && !emptyFile(s.file.get()) && copy.end != CopyEnd::WriteFailed)
        copy = {CopyEnd::WriteFailed, errno};
    if (::close(s.file.get()) != 0 && copy.end != CopyEnd::WriteFailed && errno != EINTR)
        copy = {CopyEnd::WriteFailed, errno};
    static_cast<void>(s.file.release());
    if (copy.end == CopyEnd::WriteFailed || copy.end == CopyEnd::Silent) {
        child.finish();
        if (copy.end == CopyEnd::WriteFailed) return {CaptureOutcome::WriteFailed, copy.error};
        exitCode = kKilledExitCode;
        return {CaptureOutcome::Silent};
    }
    // A child that has ended when the wait is over is judged by its own
    // status, however late in the wait it ended.
    const bool ended = child.waitForEnd(nowMs() + waitBudgetMs(schedule));
    const Child::Status status = child.finish();
    if (!ended && (!status.known || status.signal == SIGKILL)) {
        exitCode = kKilledExitCode;
        return {CaptureOutcome::Killed};
    }
    if (status.known) exitCode = status.exitCode;
    return {CaptureOutcome::Ended, 0, status.signal};
}

}  // namespace kestab::platform
