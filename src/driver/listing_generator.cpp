// The listing file: the toolkit's objdump run on the input image, its output
// (standard output and standard error together) captured into the listing.
#include "driver/listing_generator.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "mapout/map_stream.h"
#include "mapout/map_writer.h"
#include "platform/file_probe.h"

namespace kestab {

namespace {
constexpr std::string_view kObjdumpPath = "\\bin\\arm-elf-objdump.exe";

// Milliseconds as seconds, "60" or "6.3".
std::string seconds(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(ms) / 1000.0);
    return text;
}

std::string describeFailure(const platform::CaptureResult& capture, std::int32_t exitCode,
                            const std::string& program, const std::string& listingPath,
                            const platform::WaitSchedule& schedule) {
    using platform::CaptureOutcome;
    const std::string reason = capture.error != 0 ? platform::errorText(capture.error) : "";
    switch (capture.outcome) {
        case CaptureOutcome::SetupFailed:
            return "kestab: cannot make the pipes for " + program + ": " + reason;
        case CaptureOutcome::CreateFailed:
            return "kestab: cannot create list file " + listingPath + ": " + reason;
        case CaptureOutcome::StartFailed:
            return "kestab: cannot run " + program + ": " + reason;
        case CaptureOutcome::WriteFailed:
            return "kestab: cannot write list file " + listingPath + ": " + reason;
        case CaptureOutcome::Killed:
            return "kestab: " + program + " was still running " + seconds(platform::waitBudgetMs(schedule)) +
                   " s after its output ended; killed";
        case CaptureOutcome::Silent:
            return "kestab: " + program + " wrote nothing for " + seconds(schedule.silenceLimitMs) + " s; killed";
        case CaptureOutcome::Ended:
            break;
    }
    if (capture.signal != 0)
        return "kestab: " + program + " was ended by signal " + std::to_string(capture.signal) + " (" +
               platform::signalName(capture.signal) + ")";
    if (exitCode != 0) return "kestab: " + program + " exited with status " + std::to_string(exitCode);
    return {};
}

}  // namespace

std::string ObjdumpCommand::program() const {
    std::string path = toolkitDir;
    path.append(kObjdumpPath);
    return platform::programPath(path);
}

std::vector<std::string> ObjdumpCommand::arguments() const {
    std::vector<std::string> args{"-M", "reg-names-raw", "-d", "-S"};
    if (!imageName.empty() && imageName.front() == '-') args.emplace_back("--");
    args.push_back(imageName);
    return args;
}

platform::WaitSchedule listingSchedule() {
    platform::WaitSchedule schedule;
    if (const char* value = std::getenv(kSilenceLimitVariable)) {
        char* end = nullptr;
        const long ms = std::strtol(value, &end, 10);
        if (end != value && *end == '\0' && ms > 0 && ms <= platform::kSilenceLimitMs)
            schedule.silenceLimitMs = static_cast<int>(ms);
    }
    return schedule;
}

StartedListing::StartedListing(const ObjdumpCommand& command, std::string listingPath)
    : program_(command.program()),
      listingPath_(std::move(listingPath)),
      child_(program_, command.arguments(), listingPath_) {}

ListingResult StartedListing::finish(std::int32_t& exitCode, const platform::WaitSchedule& schedule,
                                     const platform::OutputSink& sink) {
    const platform::CaptureResult capture = child_.finish(exitCode, schedule, sink);
    ListingResult result;
    result.failure = describeFailure(capture, exitCode, program_, listingPath_, schedule);
    result.made = result.failure.empty();
    return result;
}

ListingResult generateListing(const ObjdumpCommand& command, std::int32_t& exitCode, const std::string& listingPath,
                              const platform::WaitSchedule& schedule, const platform::OutputSink& sink) {
    return StartedListing(command, listingPath).finish(exitCode, schedule, sink);
}

void ListingLines::feed(std::string_view piece) {
    if (scanner_.stopped()) return;
    scanner_.feed(piece);
    writeListingLines(scanner_.takeEntries(), lines_);
    std::vector<std::string> full = lines_.takeFullBlocks();
    if (!full.empty()) handOver(std::move(full), false);
}

void ListingLines::finish() {
    if (ended_) return;
    ended_ = true;
    scanner_.finish();
    writeListingLines(scanner_.takeEntries(), lines_);
    handOver(lines_.take().takeAll(), true);
}

void ListingLines::handOver(std::vector<std::string> blocks, bool finished) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (std::string& block : blocks) ready_.push_back(std::move(block));
        finished_ = finished_ || finished;
    }
    readyOrFinished_.notify_one();
}

bool ListingLines::take(std::vector<std::string>& blocks) {
    std::unique_lock<std::mutex> lock(mutex_);
    readyOrFinished_.wait(lock, [this] { return finished_ || !ready_.empty(); });
    if (ready_.empty()) return false;
    for (std::string& block : ready_) blocks.push_back(std::move(block));
    ready_.clear();
    return true;
}

ListingFinish makeObjdumpListing(const ObjdumpCommand& command, const std::string& listingPath) {
    auto started = std::make_shared<StartedListing>(command, listingPath);
    return [started](ListingLines& lines) {
        ListingReport report;
        // The lines are finished as soon as the output has ended: the
        // run's thread can take the last of them while objdump is reaped.
        report.result = started->finish(report.exitCode, listingSchedule(), [&lines](std::string_view piece) {
            if (piece.empty())
                lines.finish();
            else
                lines.feed(piece);
        });
        return report;
    };
}

// objdump is started before the thread: nothing then stands between the
// run's start and objdump's but what decides its command line.
ListingJob::ListingJob(const ObjdumpCommand& command, const std::string& listingPath, const ListingMaker& maker) {
    std::promise<ListingReport> report;
    report_ = report.get_future();
    thread_ = std::thread([this, finish = maker(command, listingPath), report = std::move(report)]() mutable {
        ListingReport made = finish(lines_);
        lines_.finish();
        report.set_value(std::move(made));
    });
}

ListingJob::~ListingJob() {
    if (thread_.joinable()) thread_.join();
}

// The thread's end (objdump's handles let go, its stack handed back) is not
// waited for here but at destruction, after the MAP file is written.
ListingReport ListingJob::finish() { return report_.get(); }

}  // namespace kestab
