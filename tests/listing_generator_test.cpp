// The listing generator against small stand-in objdump programs: shell
// scripts placed in a throw-away toolkit directory.
#include "driver/listing_generator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "support/test_support.h"

namespace kestab {
namespace {

namespace fs = std::filesystem;
using platform::WaitSchedule;
using test::readFile;
using test::TempDir;
using test::writeFile;

// A toolkit whose objdump is the given shell script, in a directory with a
// blank in its name.
class ListingGeneratorTest : public testing::Test {
protected:
    void SetUp() override {
        toolkit_ = dir_ / "tool kit";
        fs::create_directories(toolkit_ / "bin");
        listing_ = (dir_ / "out put.lst").string();
    }

    void objdump(const std::string& body, const std::string& name = "arm-elf-objdump") {
        const fs::path script = toolkit_ / "bin" / name;
        writeFile(script, "#!/bin/sh\n" + body);
        fs::permissions(script, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    }

    ObjdumpCommand command(const std::string& image = "image.tmp") const { return {toolkit_.string(), image}; }

    // Runs the generator and records how long it took and what it handed
    // to the sink (the pieces, and the end: "<end>" after them, once);
    // true when the listing was made.
    bool run(std::int32_t& exitCode, const WaitSchedule& schedule = {}) {
        const auto start = std::chrono::steady_clock::now();
        sunk_.clear();
        ends_.clear();
        const ListingResult result = generateListing(command(), exitCode, listing_, schedule,
                                                     [this](std::string_view piece) {
                                                         if (!ends_.empty()) sunk_.append("<after the end>");
                                                         if (piece.empty()) ends_ += "<end>";
                                                         sunk_.append(piece);
                                                     });
        failure_ = result.failure;
        const bool ok = result.made;
        elapsedMs_ =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        return ok;
    }

    static std::size_t openDescriptors() {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
        return count;
    }

    // No child of this process is left, not even a zombie.
    static void expectNoChildren() {
        int status = 0;
        errno = 0;
        EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }

    TempDir dir_;
    fs::path toolkit_;
    std::string listing_;
    long long elapsedMs_ = 0;
    std::string sunk_;
    std::string ends_;
    std::string failure_;
};

TEST(ObjdumpCommand, Program) {
    TempDir dir;
    const std::string root = dir.path().string();
    ObjdumpCommand cmd{root + "\\GNU ARM", "My Image.TMP"};
    // Without the .exe the plain name is run.
    EXPECT_EQ(cmd.program(), root + "/GNU ARM/bin/arm-elf-objdump");
    fs::create_directories(dir / "GNU ARM" / "bin");
    writeFile(dir / "GNU ARM" / "bin" / "arm-elf-objdump.exe", "");
    EXPECT_EQ(cmd.program(), root + "/GNU ARM/bin/arm-elf-objdump.exe");

    const ObjdumpCommand empty{"", "a.tmp"};
    EXPECT_EQ(empty.program(), "/bin/arm-elf-objdump");
}

TEST(ObjdumpCommand, DriveToolkitDirectoryIsFoundThroughTheWinePrefix) {
    TempDir dir;
    fs::create_directories(dir / "prefix" / "dosdevices");
    fs::create_directories(dir / "c" / "GNUARM" / "bin");
    fs::create_directory_symlink(dir / "c", dir / "prefix" / "dosdevices" / "c:");
    const test::ScopedEnv wine("WINEPREFIX", (dir / "prefix").string());
    const ObjdumpCommand cmd{"C:\\GNUARM", "a.tmp"};
    EXPECT_EQ(cmd.program(), (dir / "prefix" / "dosdevices" / "c:").string() + "/GNUARM/bin/arm-elf-objdump");
}

TEST_F(ListingGeneratorTest, BothStreamsInterleavedAndExitStatusKept) {
    objdump("printf 'out 1\\n'\nprintf 'err 1\\n' >&2\nprintf 'out 2\\n'\nprintf 'err 2' >&2\nexit 7\n");
    std::int32_t exitCode = 0;
    // A child that fails made no listing, whatever it wrote.
    EXPECT_FALSE(run(exitCode));
    EXPECT_EQ(exitCode, 7);
    EXPECT_EQ(failure_, "kestab: " + (toolkit_ / "bin" / "arm-elf-objdump").string() + " exited with status 7");
    EXPECT_EQ(readFile(listing_), "out 1\nerr 1\nout 2\nerr 2");
    EXPECT_EQ(sunk_, "out 1\nerr 1\nout 2\nerr 2");
    EXPECT_EQ(ends_, "<end>");
    expectNoChildren();
}

TEST_F(ListingGeneratorTest, ArgumentsWithBlanksArriveWhole) {
    objdump("for a in \"$@\"; do printf '[%s]' \"$a\"; done\n");
    std::int32_t exitCode = -5;
    ASSERT_TRUE(generateListing(command("my image.tmp"), exitCode, listing_).made);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(readFile(listing_), "[-M][reg-names-raw][-d][-S][my image.tmp]");
    // An image name that begins with '-' is no option.
    ASSERT_TRUE(generateListing(command("-x.tmp"), exitCode, listing_).made);
    EXPECT_EQ(readFile(listing_), "[-M][reg-names-raw][-d][-S][--][-x.tmp]");
}

TEST_F(ListingGeneratorTest, PrefersTheExeWhenItExists) {
    objdump("echo plain\n");
    objdump("echo exe\n", "arm-elf-objdump.exe");
    std::int32_t exitCode = 0;
    ASSERT_TRUE(run(exitCode));
    EXPECT_EQ(readFile(listing_), "exe\n");
}

TEST_F(ListingGeneratorTest, SilentChildGivesEmptyListing) {
    objdump("exit 0\n");
    writeFile(listing_, "old listing that must go\n");
    std::int32_t exitCode = 99;
    EXPECT_TRUE(run(exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(fs::exists(listing_));
    EXPECT_EQ(readFile(listing_), "");
}

TEST_F(ListingGeneratorTest, ExistingListingIsReplaced) {
    objdump("echo new\n");
    writeFile(listing_, std::string(100000, 'o'));
    std::int32_t exitCode = 0;
    ASSERT_TRUE(run(exitCode));
    EXPECT_EQ(readFile(listing_), "new\n");
}

TEST_F(ListingGeneratorTest, LargeOutputCopiedByteForByte) {
    std::string data;
    for (int i = 0; i < 300000; ++i) data.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    const fs::path source = dir_ / "data.bin";
    writeFile(source, data);
    objdump("cat '" + source.string() + "'\necho tail >&2\n");
    std::int32_t exitCode = 0;
    ASSERT_TRUE(run(exitCode));
    EXPECT_EQ(exitCode, 0);
    const std::string listing = readFile(listing_);
    ASSERT_EQ(listing.size(), data.size() + 5);
    EXPECT_TRUE(listing == data + "tail\n");
    EXPECT_TRUE(sunk_ == listing);  // the scan sees exactly what was written
}

TEST_F(ListingGeneratorTest, MissingProgramIsAFailedStart) {
    writeFile(listing_, "stale\n");
    std::int32_t exitCode = 0;
    EXPECT_FALSE(run(exitCode));
    EXPECT_EQ(exitCode, 0);  // untouched
    EXPECT_EQ(failure_,
              "kestab: cannot run " + (toolkit_ / "bin" / "arm-elf-objdump").string() + ": No such file or directory");
    EXPECT_TRUE(fs::exists(listing_));
    EXPECT_EQ(readFile(listing_), "");
    expectNoChildren();
}

TEST_F(ListingGeneratorTest, ProgramThatCannotBeRunIsAFailedStart) {
    writeFile(toolkit_ / "bin" / "arm-elf-objdump", "#!/bin/sh\necho hi\n");  // not executable
    std::int32_t exitCode = 12;
    std::int32_t runExit = 12;
    EXPECT_EQ(platform::runCaptured((toolkit_ / "bin" / "arm-elf-objdump").string(), {}, listing_, runExit).outcome,
              platform::CaptureOutcome::StartFailed);
    EXPECT_FALSE(run(exitCode));
    EXPECT_EQ(exitCode, 12);
    EXPECT_EQ(runExit, 12);
    EXPECT_EQ(readFile(listing_), "");
}

TEST_F(ListingGeneratorTest, ListingThatCannotBeCreatedStartsNothing) {
    const fs::path marker = dir_ / "started";
    objdump("touch '" + marker.string() + "'\n");
    listing_ = (dir_ / "no such dir" / "x.lst").string();
    std::int32_t exitCode = 0;
    EXPECT_EQ(platform::runCaptured((toolkit_ / "bin" / "arm-elf-objdump").string(), {}, listing_, exitCode).outcome,
              platform::CaptureOutcome::CreateFailed);
    EXPECT_FALSE(run(exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(fs::exists(listing_));
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(ListingGeneratorTest, FirstFailedWriteEndsTheCopyAndKillsTheChild) {
    // Every write to /dev/full fails: whether the child has said all it had
    // to say or would go on writing, no listing is made and nothing waits.
    listing_ = "/dev/full";
    for (const char* body : {"echo short\nexit 0\n", "exec head -c 10000000 /dev/zero\n"}) {
        objdump(body);
        std::int32_t exitCode = 0;
        EXPECT_FALSE(run(exitCode));
        EXPECT_EQ(exitCode, 0);  // untouched
        EXPECT_EQ(failure_, "kestab: cannot write list file /dev/full: No space left on device");
        EXPECT_EQ(sunk_, "");
        EXPECT_EQ(ends_, "<end>");
        EXPECT_LT(elapsedMs_, 2000);
        expectNoChildren();
    }
}

TEST_F(ListingGeneratorTest, ChildGetsOnlyItsThreeDescriptors) {
    // A descriptor of ours without close-on-exec must not reach the child.
    const int stray = ::open((dir_ / "stray.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(stray, 0);
    // The shell keeps its script open on a descriptor of its own.
    objdump("ls -l /proc/$$/fd\nread line\necho \"stdin read: $?\"\n");
    const std::size_t before = openDescriptors();
    std::int32_t exitCode = 0;
    ASSERT_TRUE(run(exitCode));
    EXPECT_EQ(openDescriptors(), before);  // nothing leaked here either
    ::close(stray);

    const std::string listing = readFile(listing_);
    EXPECT_EQ(listing.find("stray.txt"), std::string::npos) << listing;
    EXPECT_EQ(listing.find(".lst"), std::string::npos) << listing;
    std::istringstream lines(listing);
    std::string line;
    std::string pipe0, pipe1, pipe2;
    int descriptors = 0;
    while (std::getline(lines, line)) {
        const auto arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        const std::string target = line.substr(arrow + 4);
        const std::string fd = line.substr(line.rfind(' ', arrow - 1) + 1, arrow - line.rfind(' ', arrow - 1) - 1);
        ++descriptors;
        if (fd == "0")
            pipe0 = target;
        else if (fd == "1")
            pipe1 = target;
        else if (fd == "2")
            pipe2 = target;
        else
            EXPECT_NE(target.find("arm-elf-objdump"), std::string::npos) << "unexpected descriptor: " << line;
    }
    EXPECT_GE(descriptors, 3) << listing;
    EXPECT_EQ(pipe0.rfind("pipe:", 0), 0u) << listing;
    EXPECT_EQ(pipe1.rfind("pipe:", 0), 0u) << listing;
    EXPECT_EQ(pipe1, pipe2);  // one pipe for both output streams
    EXPECT_NE(pipe0, pipe1);
    // Standard input is a pipe that gives no data: the read sees its end.
    EXPECT_NE(listing.find("stdin read: 1"), std::string::npos) << listing;
}

// Whatever this process blocks or ignores, the child starts with
// no signal blocked, SIGPIPE at its default action (a pipe's reader that
// goes ends the child instead of leaving it writing into nothing), and as
// the leader of a process group of its own. The child is grep itself, not a
// shell, which would set up its signals anew.
TEST_F(ListingGeneratorTest, ChildStartsWithDefaultSignalsInAGroupOfItsOwn) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction oldPipe {};
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &oldPipe), 0);
    sigset_t blocked;
    sigset_t oldMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &oldMask), 0);

    const fs::path script = toolkit_ / "bin" / "arm-elf-objdump";
    writeFile(script, "#!/usr/bin/env -S grep -h -E ^(Sig(Blk|Ign):|[0-9]) /proc/self/status /proc/self/stat --\n");
    fs::permissions(script, fs::perms::owner_all);
    std::int32_t exitCode = 0;
    run(exitCode);  // grep fails on the arguments meant for objdump
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGPIPE, &oldPipe, nullptr);

    const std::string listing = readFile(listing_);
    const auto mask = [&](const char* name) {
        const auto at = listing.find(name);
        return at == std::string::npos ? ~0ull : std::stoull(listing.substr(at + 8, 16), nullptr, 16);
    };
    // Bits 10 and 13: SIGUSR1 and SIGPIPE.
    EXPECT_EQ(mask("SigBlk:"), 0u) << listing;
    EXPECT_EQ(mask("SigIgn:") & 0x1000, 0u) << listing;
    // /proc/self/stat: pid (name) state ppid pgrp ...
    const auto name = listing.find(" (grep) ");
    ASSERT_NE(name, std::string::npos) << listing;
    const auto lineStart = listing.rfind('\n', name);
    std::istringstream stat(listing.substr(lineStart == std::string::npos ? 0 : lineStart + 1));
    std::string pid, comm, state, parent, group;
    stat >> pid >> comm >> state >> parent >> group;
    EXPECT_EQ(group, pid) << listing;
}

TEST_F(ListingGeneratorTest, ChildKilledBySignalEndsWithSignalStatus) {
    objdump("echo dying\nkill -9 $$\n");
    std::int32_t exitCode = 0;
    EXPECT_FALSE(run(exitCode));
    EXPECT_EQ(exitCode, 128 + 9);
    EXPECT_EQ(failure_,
              "kestab: " + (toolkit_ / "bin" / "arm-elf-objdump").string() + " was ended by signal 9 (Killed)");
    EXPECT_EQ(readFile(listing_), "dying\n");
    expectNoChildren();
}

TEST_F(ListingGeneratorTest, EndedChildIsSeenWithoutSleepingThePause) {
    objdump("echo quick\nexit 3\n");
    std::int32_t exitCode = 0;
    // With a 2 s first pause a wait that slept whole pauses would take 2 s.
    EXPECT_FALSE(run(exitCode, WaitSchedule{6, 2000}));
    EXPECT_EQ(exitCode, 3);
    EXPECT_LT(elapsedMs_, 1000);
    // The usual schedule: well under the first pause of 100 ms.
    EXPECT_FALSE(run(exitCode));
    EXPECT_LT(elapsedMs_, 100);
}

TEST_F(ListingGeneratorTest, EndDuringAPauseIsAnsweredByTheNextQuery) {
    // Output closed at once; the end comes after the first query (t=0) and
    // before the next one (t=400 ms).
    objdump("exec >&- 2>&-\nsleep 0.1\nexit 5\n");
    std::int32_t exitCode = 0;
    EXPECT_FALSE(run(exitCode, WaitSchedule{3, 400}));
    EXPECT_EQ(exitCode, 5);
    EXPECT_LT(elapsedMs_, 400);
    expectNoChildren();
}

TEST_F(ListingGeneratorTest, EndDuringTheLastPauseIsJudgedByItsOwnStatus) {
    // Queries at 0 and 50 ms, last pause up to 150 ms: a child that has
    // ended at about 100 ms is judged by its own status, not killed.
    objdump("echo early\nexec >&- 2>&-\nsleep 0.1\nexit 0\n");
    std::int32_t exitCode = 9;
    EXPECT_TRUE(run(exitCode, WaitSchedule{2, 50}));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(readFile(listing_), "early\n");
    expectNoChildren();
}

TEST_F(ListingGeneratorTest, ChildThatFallsSilentIsKilled) {
    objdump("echo started\nexec sleep 30\n");
    std::int32_t exitCode = 0;
    WaitSchedule schedule;
    schedule.silenceLimitMs = 200;
    EXPECT_FALSE(run(exitCode, schedule));
    EXPECT_EQ(exitCode, platform::kKilledExitCode);
    EXPECT_EQ(failure_, "kestab: " + (toolkit_ / "bin" / "arm-elf-objdump").string() +
                            " wrote nothing for 0.2 s; killed");
    EXPECT_LT(elapsedMs_, 2000);
    expectNoChildren();
}

// Slow: the whole 6.3 s wait.
TEST_F(ListingGeneratorTest, ChildThatKeepsRunningIsKilledAfterTheWholeScheduleSlow) {
    objdump("echo started\nexec >&- 2>&-\nexec sleep 60\n");
    std::int32_t exitCode = 0;
    EXPECT_FALSE(run(exitCode));
    EXPECT_EQ(exitCode, 241);
    EXPECT_GE(elapsedMs_, 6300);
    EXPECT_LT(elapsedMs_, 9000);
    EXPECT_EQ(readFile(listing_), "started\n");
    EXPECT_EQ(failure_, "kestab: " + (toolkit_ / "bin" / "arm-elf-objdump").string() +
                            " was still running 6.3 s after its output ended; killed");
    expectNoChildren();
}

}  // namespace
}  // namespace kestab
