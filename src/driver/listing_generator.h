// Making the listing file: the toolkit's objdump run as a child process, its
// output captured into the listing file and scanned for code addresses as
// it is copied.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mapout/listing_scan.h"
#include "mapout/map_stream.h"
#include "mapout/map_writer.h"
#include "platform/child_process.h"

namespace kestab {

struct ObjdumpCommand {
    std::string toolkitDir;  // possibly empty
    std::string imageName;   // the input image name exactly as it was opened

    // The program to run: toolkitDir + "\bin\arm-elf-objdump.exe" as
    // platform::programPath finds it on this system.
    std::string program() const;
    // Its arguments: -M reg-names-raw -d -S and the image name, with "--"
    // before an image name that begins with '-' (so it is not an option).
    std::vector<std::string> arguments() const;
};

// The environment variable that shortens the silence limit (milliseconds),
// for tests.
inline constexpr const char* kSilenceLimitVariable = "KESTAB_LISTING_SILENCE_MS";

// The wait schedule of a run: the designed one, with the silence limit
// taken from kSilenceLimitVariable when that holds a positive number.
platform::WaitSchedule listingSchedule();

struct ListingResult {
    // The child was started, all of its output written to the listing, and
    // it ended in time by itself with status 0.
    bool made = false;
    // Why not, as one line for standard error ("kestab: ..."); empty when
    // made.
    std::string failure;
};

// Runs the objdump with its output into `listingPath`, each piece handed to
// `sink` once written. exitCode: the child's status (128 + signal when a
// signal ended it), 241 when it was killed for not ending or falling
// silent, untouched when it could not be set up, started or written.
ListingResult generateListing(const ObjdumpCommand& command, std::int32_t& exitCode,
                              const std::string& listingPath, const platform::WaitSchedule& schedule = {},
                              const platform::OutputSink& sink = {});

// generateListing in two steps: construction starts objdump at once, on the
// calling thread; finish() copies its output and waits for its end, on any
// thread, once.
class StartedListing {
public:
    StartedListing(const ObjdumpCommand& command, std::string listingPath);
    ListingResult finish(std::int32_t& exitCode, const platform::WaitSchedule& schedule = {},
                         const platform::OutputSink& sink = {});

private:
    std::string program_;
    std::string listingPath_;
    platform::CapturedChild child_;
};

// What the listing thread hands back when it is joined.
struct ListingReport {
    ListingResult result;
    std::int32_t exitCode = 0;
};

// The listing's code addresses turned into the MAP file's @ lines as the
// listing streams in, piece by piece, through the run's scanner and writer,
// so none of that work is left for after objdump. The lines are made on the
// listing's thread; another thread takes them, block by block, as blocks
// fill up.
class ListingLines {
public:
    ListingLines() { lines_.keepInMemory(); }
    ListingLines(const ListingLines&) = delete;
    ListingLines& operator=(const ListingLines&) = delete;

    // The making side: a piece of the listing, and its end (nothing is fed
    // after it; a second end changes nothing).
    void feed(std::string_view piece);
    void finish();

    // The taking side: waits until lines are ready or finish() was called,
    // and adds the ready ones to `blocks`; false, with nothing added, once
    // every line was taken.
    bool take(std::vector<std::string>& blocks);
private:
    void handOver(std::vector<std::string> blocks, bool finished);

    ListingScanner scanner_;
    MapStream lines_;
    std::mutex mutex_;
    std::condition_variable readyOrFinished_;
    std::vector<std::string> ready_;
    bool finished_ = false;  // under mutex_
    bool ended_ = false;     // the making side's own record of finish()
};

// The rest of a listing's making, on the listing's thread: the listing fed
// to `lines`, and how it went.
using ListingFinish = std::function<ListingReport(ListingLines& lines)>;
// Starts the listing of a run into `listingPath` on the calling thread and
// answers what finishes it.
using ListingMaker = std::function<ListingFinish(const ObjdumpCommand& command, const std::string& listingPath)>;

// The run's own maker: objdump started at once (StartedListing), its output
// fed to the lines as it streams; the listing file is never read back.
ListingFinish makeObjdumpListing(const ObjdumpCommand& command, const std::string& listingPath);

// The listing started at construction, on the calling thread, and made on
// a thread of its own.
class ListingJob {
public:
    ListingJob(const ObjdumpCommand& command, const std::string& listingPath,
               const ListingMaker& maker = makeObjdumpListing);
    ~ListingJob();
    ListingJob(const ListingJob&) = delete;
    ListingJob& operator=(const ListingJob&) = delete;

    // The listing's @ lines made so far (see ListingLines::take); call from
    // one thread.
    bool takeLines(std::vector<std::string>& blocks) { return lines_.take(blocks); }
    // Waits until the listing is made and answers how it went; call once.
    ListingReport finish();

private:
    std::future<ListingReport> report_;  // set by the thread
    ListingLines lines_;                 // made before the thread and outlives it
    std::thread thread_;
};

}  // namespace kestab
