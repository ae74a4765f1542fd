// Running a child process with its standard output and standard error
// captured into a file, with a bounded wait for its end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestab::platform {

// A child that writes nothing for this long is taken as hung.
inline constexpr int kSilenceLimitMs = 60000;

struct WaitSchedule {
    int queries = 6;          // status queries at most
    int firstPauseMs = 100;   // doubled after every pause
    int silenceLimitMs = kSilenceLimitMs;
};

enum class CaptureOutcome {
    Ended,        // the child ended in time; exitCode holds its status
    Killed,       // still running when the wait was over: killed, exitCode 241
    Silent,       // wrote nothing for the silence limit: killed, exitCode 241
    SetupFailed,  // the pipes could not be made; exitCode untouched
    CreateFailed, // the output file could not be created; exitCode untouched
    StartFailed,  // the output file exists (empty) but the program could not be started
    WriteFailed,  // a write to the output file failed: the child was killed, exitCode untouched
};

struct CaptureResult {
    CaptureOutcome outcome = CaptureOutcome::SetupFailed;
    int error = 0;           // the system's error number (see errorText) of a failed set-up, start or write
    int signal = 0;          // the signal that ended the child (Ended), else 0
};

// Called with each piece of the output right after it was written to the
// file, and then once with an empty piece when the copy has ended (however
// it ended), before the file is closed and the child is waited for.
using OutputSink = std::function<void(std::string_view)>;

// Starts `program` with `args` (argv[1..]) in a process group of its own (on
// Windows a job object that is killed when this process ends), a
// never-written pipe as standard input and one pipe shared by standard
// output and standard error, and copies everything it writes into
// `outputPath` (created or truncated; a FIFO without a reader is refused
// instead of waited for). The first failed write ends the copy. The wait
// starts when the output has ended, or when the child has ended while
// something it started still holds the pipe; it lasts as long as the
// schedule's pauses together, and a child that has ended by then is judged
// by its own status. Whatever stops the run, the child's process group is
// killed before the child is reaped, so nothing it started is left behind;
// while it runs, SIGINT, SIGTERM, SIGHUP and SIGQUIT of this process kill
// the group first. exitCode is the child's exit status, 128 + the signal that ended
// it, or 241 when it was killed for not ending or for falling silent. No
// other descriptor of this process reaches the child. On Windows the
// program and arguments become one command line, each quoted only when it
// is empty or holds a blank, a tab or a '"'.
//
// CapturedChild does it in two steps, so that the child can be started at
// once on one thread and its output copied on another: construction makes
// the pipes and the output file and starts the child; finish() does the
// rest. A child whose owner goes without finish() is killed with its group
// and reaped.
class CapturedChild {
public:
    CapturedChild(const std::string& program, const std::vector<std::string>& args, const std::string& outputPath);
    ~CapturedChild();
    CapturedChild(const CapturedChild&) = delete;
    CapturedChild& operator=(const CapturedChild&) = delete;

    // Copies the output and waits for the end; call once.
    CaptureResult finish(std::int32_t& exitCode, const WaitSchedule& schedule = {}, const OutputSink& sink = {});

private:
    struct State;
    std::unique_ptr<State> state_;
};

inline CaptureResult runCaptured(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& outputPath, std::int32_t& exitCode,
                                 const WaitSchedule& schedule = {}, const OutputSink& sink = {}) {
    return CapturedChild(program, args, outputPath).finish(exitCode, schedule, sink);
}

inline constexpr std::int32_t kKilledExitCode = 241;

// How long the wait after the output lasts: the schedule's pauses together
// (p, 2p, 4p, ...; 6300 ms for the designed schedule).
inline std::int64_t waitBudgetMs(const WaitSchedule& schedule) {
    std::int64_t total = 0;
    std::int64_t pause = schedule.firstPauseMs > 0 ? schedule.firstPauseMs : 0;
    for (int q = 0; q < schedule.queries && total < (std::int64_t{1} << 40); ++q, pause *= 2) total += pause;
    return total;
}

// The system's text for a CaptureResult error (strerror, or the Windows
// message text).
std::string errorText(int error);
// The description of a signal that ended a child ("Killed"); empty on
// Windows, where there are none.
std::string signalName(int signal);

}  // namespace kestab::platform
