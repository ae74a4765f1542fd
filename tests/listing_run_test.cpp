// Whole runs with stand-in objdumps that fail, hang, leave helpers behind or
// meet odd files: the run never reports success over a listing it could
// not make, never hangs, and names the cause on standard error.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace kestab::test {
namespace {

constexpr const char* kRealObjdump = "exec /usr/bin/arm-none-eabi-objdump \"$@\"\n";

enum class Setup {
    None,
    ListingOnFullDevice,  // <base>.lst is a link to /dev/full
    ListingOnDevZero,     // <base>.lst is a link to /dev/zero
    FileSizeLimit,        // ulimit -f 16 (KiB)
    ClosedStandard,       // kestab started with standard input and output closed
    ImageIsFifo,
    StoreIsFifo,
    StoreIsDevZero,
    StoreTooLarge,        // 65 MiB
    ShortSilence,         // the silence limit set to 300 ms
    Grandchild,           // the objdump leaves a process holding its output
};

struct ListingCase {
    const char* name;
    const char* objdump;  // the script's body
    Setup setup;
    int status;
    std::string out;  // standard output, exactly (the runs use -q)
    std::string err;  // a pattern for standard error
    bool listing;     // the MAP file is the complete expected one
    const char* base = "multi";
};

const std::string kNoListing = "Can not create list file. Exit code is: ";
const std::string kRead = "First pass...\n";
const std::string kStore = "kestab: settings store .*, line 0: cannot be read: ";
const std::string kNoToolkit = "kestab: cannot run /bin/arm-elf-objdump: No such file or directory\n";

const ListingCase kCases[] = {
    {"WriteErrorOnAFullDevice", kRealObjdump, Setup::ListingOnFullDevice, 255, kNoListing + "0" + kRead,
     "kestab: cannot write list file multi.lst: No space left on device\n", false},
    {"WriteErrorPastTheFileSizeLimit", "yes 'a listing line' | head -c 300000\n", Setup::FileSizeLimit, 255,
     kNoListing + "0" + kRead, "kestab: cannot write list file multi.lst: File too large\n", false},
    {"ChildExitsWithAnError", "echo 'objdump: multi.tmp: file format not recognized' >&2\nexit 1\n", Setup::None,
     255, kNoListing + "1" + kRead, "kestab: .*/bin/arm-elf-objdump exited with status 1\n", false},
    {"ChildKilledByASignal", "echo partial\nkill -9 $$\n", Setup::None, 255, kNoListing + "137" + kRead,
     "kestab: .*/bin/arm-elf-objdump was ended by signal 9 \\(Killed\\)\n", false},
    {"ImageNameBeginningWithADash", kRealObjdump, Setup::None, 0, kRead, "", true, "-x"},
    {"StandardDescriptorsClosed", kRealObjdump, Setup::ClosedStandard, 0, "", "", true},
    {"ChildFallsSilent", "echo started\nexec sleep 30\n", Setup::ShortSilence, 255, kNoListing + "241" + kRead,
     "kestab: .*/bin/arm-elf-objdump wrote nothing for 0.3 s; killed\n", false},
    {"GrandchildHoldsTheOutput", "/usr/bin/arm-none-eabi-objdump \"$@\"\nsleep 30 &\necho $! >grandchild.pid\n",
     Setup::Grandchild, 0, kRead, "", true},
    {"ListingOnDevZero", kRealObjdump, Setup::ListingOnDevZero, 0, kRead, "", true},
    {"ImageIsAFifo", kRealObjdump, Setup::ImageIsFifo, 254, "Cannot open input file: multi.tmp\n", "", false},
    {"StoreIsAFifo", kRealObjdump, Setup::StoreIsFifo, 255, kNoListing + "0" + kRead,
     kStore + "Invalid argument; its settings read as missing\n" + kNoToolkit, false},
    {"StoreIsDevZero", kRealObjdump, Setup::StoreIsDevZero, 255, kNoListing + "0" + kRead,
     kStore + "Invalid argument; its settings read as missing\n" + kNoToolkit, false},
    {"ImageReplacedByACopy", "for a; do image=$a; done\ncp -p \"$image\" copy.tmp && mv copy.tmp \"$image\"\n"
     "exec /usr/bin/arm-none-eabi-objdump \"$@\"\n", Setup::None, 255, kNoListing + "0" + kRead,
     "kestab: multi.tmp changed while the listing was made\n", false},
    {"ImageWrittenTo", "for a; do image=$a; done\ntouch \"$image\"\nexec /usr/bin/arm-none-eabi-objdump \"$@\"\n",
     Setup::None, 255, kNoListing + "0" + kRead, "kestab: multi.tmp changed while the listing was made\n", false},
    {"StoreTooLarge", kRealObjdump, Setup::StoreTooLarge, 255, kNoListing + "0" + kRead,
     kStore + "File too large; its settings read as missing\n" + kNoToolkit, false},
};

void setTime(const fs::path& path, std::time_t when) {
    const utimbuf times{when, when};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

// The multi image as <base>.tmp with its sources (older than the image, so
// objdump -S has nothing to warn about), a toolkit with the case's objdump
// and a store naming it.
struct ListingRun {
    ListingRun(const TempDir& root, const ListingCase& c) : dir(root / "run"), base(c.base) {
        fs::create_directories(dir);
        fs::copy(fixturePath("gcc/multi"), dir, fs::copy_options::recursive);
        for (const auto& entry : fs::recursive_directory_iterator(dir)) setTime(entry.path(), 978307200);
        env = scriptedToolkitEnv(root.path(), (std::string("#!/bin/sh\n") + c.objdump).c_str());
        const fs::path image = dir / (base + ".tmp");
        const fs::path store = root / "odd.reg";
        switch (c.setup) {
            case Setup::ImageIsFifo: ::mkfifo(image.c_str(), 0600); break;
            case Setup::ListingOnFullDevice: fs::create_symlink("/dev/full", dir / (base + ".lst")); break;
            case Setup::ListingOnDevZero: fs::create_symlink("/dev/zero", dir / (base + ".lst")); break;
            case Setup::StoreIsFifo: ::mkfifo(store.c_str(), 0600); env["KESTAB_REGISTRY"] = store; break;
            case Setup::StoreIsDevZero: env["KESTAB_REGISTRY"] = "/dev/zero"; break;
            case Setup::StoreTooLarge:
                std::ofstream(store).put('\n');
                fs::resize_file(store, (65u << 20));
                env["KESTAB_REGISTRY"] = store;
                break;
            case Setup::ShortSilence: env["KESTAB_LISTING_SILENCE_MS"] = "300"; break;
            default: break;
        }
        if (c.setup != Setup::ImageIsFifo) {
            fs::copy_file(fixturePath("gcc/multi.tmp"), image);
            setTime(image, 1009843200);
        }
    }

    ProcessResult run(Setup setup) const {
        const std::string kestab = kestabBinary().string();
        if (setup == Setup::FileSizeLimit)
            return runProcess({"/bin/bash", "-c", "ulimit -f 16; exec \"$0\" \"$@\"", kestab, base, "-q"}, dir, env);
        if (setup == Setup::ClosedStandard)
            return runProcess({"/bin/bash", "-c", "exec \"$0\" \"$@\" <&- >&-", kestab, base, "-q"}, dir, env);
        return runKestab({base, "-q"}, dir, env);
    }

    fs::path dir;
    std::string base;
    std::map<std::string, std::string> env;
};

// The expected MAP file; without the listing, File 0, the listing's @ lines
// and the end line are missing.
std::string expectedMap(const ListingCase& c) {
    std::string expected = readFile(fixturePath("gcc/multi.expected.MAP"));
    const std::string file0 = "File 0  : multi.lst\r\n";
    expected.replace(expected.find(file0), file0.size(), c.listing ? "File 0  : " + std::string(c.base) + ".lst\r\n" : "");
    if (c.listing) return expected;
    std::string kept;
    std::size_t start = 0;
    for (std::size_t end; (end = expected.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = expected.substr(start, end + 2 - start);
        if (line.find(": F:000 L:") == std::string::npos) kept += line;
    }
    return kept;
}

// A process that has ended (a zombie counts) or is gone, within two seconds.
bool endsSoon(std::string pid) {
    while (!pid.empty() && std::isspace(static_cast<unsigned char>(pid.back()))) pid.pop_back();
    for (int i = 0; i < 40; ++i) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string text;
        if (!std::getline(stat, text) || text.find(") Z ") != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Slow: some 3 s for all rows together.
TEST(ListingRun, StandInObjdumpsAndOddFilesSlow) {
    for (const ListingCase& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        const ListingRun run(root, c);
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = run.run(c.setup);
        const auto elapsed = std::chrono::steady_clock::now() - start;

        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_TRUE(std::regex_match(r.err, std::regex(c.err))) << "stderr: " << r.err;
        EXPECT_LT(elapsed, std::chrono::seconds(4));
        const fs::path map = run.dir / (run.base + ".MAP");
        if (c.setup == Setup::ImageIsFifo) {
            EXPECT_FALSE(fs::exists(map));
        } else {
            const std::string written = readFile(map);
            EXPECT_TRUE(written == expectedMap(c)) << written.substr(0, 400);
        }
        if (c.setup == Setup::Grandchild) {
            EXPECT_TRUE(endsSoon(readFile(run.dir / "grandchild.pid")));
        }
    }
}

// A run ended by a signal while objdump runs takes objdump along. Job
// control gives the run the default SIGINT and SIGQUIT, which a shell
// otherwise ignores in a background command.
TEST(ListingRun, SignalledRunKillsTheObjdumpGroup) {
    const struct {
        const char* signal;
        const char* status;
    } cases[] = {{"TERM", "status 143\n"}, {"INT", "status 130\n"}, {"HUP", "status 129\n"}, {"QUIT", "status 131\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        TempDir root;
        const ListingCase objdump{"Signalled", "echo $$ >objdump.pid\nexec sleep 30\n", Setup::None, 0, "", "", false};
        const ListingRun run(root, objdump);
        const std::string script = std::string("set -m; ulimit -c 0\n") +
                                   "\"$0\" multi -q & k=$!\n"
                                   "while [ ! -s objdump.pid ]; do sleep 0.02; done\n"
                                   "kill -" + c.signal + " $k; wait $k; echo \"status $?\"\n";
        const ProcessResult r = runProcess({"/bin/bash", "-c", script, kestabBinary().string()}, run.dir, run.env);
        EXPECT_EQ(r.out, c.status) << r.err;
        EXPECT_TRUE(endsSoon(readFile(run.dir / "objdump.pid")));
    }
}

}  // namespace
}  // namespace kestab::test
