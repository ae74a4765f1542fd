// Running a child process with its standard output and standard error
// captured into a file, with a bounded wait for its end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestab::platform {

struct WaitSchedule {
    int queries = 6;          // status queries at most
    int firstPauseMs = 100;   // doubled after every pause
};

enum class CaptureOutcome {
    Ended,        // the child ended; exitCode holds its exit status
    Killed,       // still running at the last query: killed, exitCode 241
    SetupFailed,  // pipes or the output file could not be made; exitCode untouched
    StartFailed,  // the output file exists (empty) but the program could not be started
};

// Starts `program` with `args` (argv[1..]), a never-written pipe as standard
// input and one pipe shared by standard output and standard error, copies
// everything it writes into `outputPath` (created or truncated), then waits
// for it by the schedule. No other descriptor of this process reaches the
// child.
CaptureOutcome runCaptured(const std::string& program, const std::vector<std::string>& args,
                           const std::string& outputPath, std::int32_t& exitCode,
                           const WaitSchedule& schedule = {});

constexpr std::int32_t kKilledExitCode = 241;

}  // namespace kestab::platform
