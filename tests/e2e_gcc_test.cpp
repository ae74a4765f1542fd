// End-to-end runs of the built kestab on the GCC-built images and the blinky
// sample, with the real arm-none-eabi-objdump behind a throw-away toolkit.
// Each run gets a temporary directory holding a copy of the fixture's sources
// and the image; the MAP file must equal the expected file byte for byte.
// The expected files were derived from dwarfdump and objdump, not from kestab
// (tests/fixtures/gcc/README.md); the directory layout here must stay the one
// that tests/fixtures/tools/derive_map.py uses for the listing.
#include <gtest/gtest.h>
#include <utime.h>

#include <ctime>
#include <functional>
#include <optional>
#include <sstream>

#include "support/test_support.h"

namespace kestab::test {
namespace {

// Sources older than the image, so that objdump -S does not warn that a
// source file is newer than the image (the warning would go into the listing).
constexpr std::time_t kSourceTime = 978307200;  // 2001-01-01
constexpr std::time_t kImageTime = 1009843200;  // 2002-01-01

struct GccCase {
    std::string name;         // test name
    std::string image;        // image, relative to the source tree
    std::string sources;      // directory copied next to the image
    std::string runDir;       // run directory below the temporary root
    std::string expectedMap;  // relative to tests/fixtures
    std::vector<std::string> options;
    std::string libToolkitDir;    // the toolkitDir setting, empty for none
    std::string driveC;           // what drive c: maps to, below the root; empty for none
    std::string expectedStdout;   // relative to tests/fixtures; empty: banner, reader, summary
    std::string summary;
    std::string runAs;  // base name the image is run under; empty: its own
};

// The base name a case runs under, which names the MAP and listing files.
std::string baseName(const GccCase& c) {
    return c.runAs.empty() ? fs::path(c.image).stem().string() : c.runAs;
}

void setTime(const fs::path& path, std::time_t when) {
    utimbuf times{when, when};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

struct PreparedRun {
    fs::path runDir;
    std::map<std::string, std::string> env;
};

// Lays out a run: <root>/<runDir> holds the sources and the image,
// <root>/toolkit the objdump link, <root>/wine the Wine prefix with its
// drive links, <root>/kestab.reg the settings.
PreparedRun prepare(const TempDir& root, const GccCase& c, bool withToolkit = true) {
    PreparedRun run;
    run.runDir = root.path() / c.runDir;
    fs::create_directories(run.runDir);
    fs::copy(sourcePath(c.sources), run.runDir, fs::copy_options::recursive);
    const fs::path image = run.runDir / (baseName(c) + ".tmp");
    fs::copy_file(sourcePath(c.image), image, fs::copy_options::overwrite_existing);
    for (const auto& entry : fs::recursive_directory_iterator(run.runDir))
        if (entry.is_regular_file()) setTime(entry.path(), kSourceTime);
    setTime(image, kImageTime);

    fs::path toolkit = root / "toolkit";
    if (withToolkit)
        makeToolkit(toolkit);
    else
        fs::create_directories(toolkit / "bin");  // a toolkit without objdump
    const fs::path wine = root / "wine";
    fs::create_directories(wine / "dosdevices");
    if (!c.driveC.empty()) fs::create_directory_symlink(root / c.driveC, wine / "dosdevices" / "c:");
    const fs::path registry = writeToolkitRegistry(root / "kestab.reg", toolkit.string(), c.libToolkitDir);
    run.env = isolatedEnv(registry, wine);
    return run;
}

// Names the first line in which two MAP files differ, which reads better than
// a diff of two strings of many kilobytes.
std::string firstDifference(const std::string& expected, const std::string& actual) {
    const auto e = splitCrLf(expected);
    const auto a = splitCrLf(actual);
    std::ostringstream out;
    for (std::size_t i = 0; i < std::max(e.size(), a.size()); ++i) {
        const std::string el = i < e.size() ? e[i] : "<end of file>";
        const std::string al = i < a.size() ? a[i] : "<end of file>";
        if (el != al) {
            out << "first difference at line " << i + 1 << ":\n  expected: " << el << "\n  actual:   " << al;
            return out.str();
        }
    }
    return "the files differ only in their line ends";
}

void expectSameMap(const std::string& expected, const fs::path& actualPath) {
    ASSERT_TRUE(fs::exists(actualPath)) << actualPath;
    const std::string actual = readFile(actualPath);
    EXPECT_TRUE(expected == actual) << firstDifference(expected, actual);
}

// Shown by GoogleTest in place of the bytes of a case.
void PrintTo(const GccCase& c, std::ostream* os) { *os << c.name; }

const std::string kBanner = "ELF Map file generator, version 1.01\n";

class GccImageRun : public ::testing::TestWithParam<GccCase> {};

TEST_P(GccImageRun, WritesTheExpectedMapFile) {
    const GccCase& c = GetParam();
    TempDir root;
    const PreparedRun run = prepare(root, c);
    const std::string base = baseName(c);
    std::vector<std::string> args{base};
    args.insert(args.end(), c.options.begin(), c.options.end());

    const ProcessResult r = runKestab(args, run.runDir, run.env);

    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    expectSameMap(readFile(fixturePath(c.expectedMap)), run.runDir / (base + ".MAP"));
    if (c.expectedStdout.empty())
        EXPECT_EQ(r.out, kBanner + "First pass...\n" + c.summary + "\n");
    else
        EXPECT_EQ(r.out, readFile(fixturePath(c.expectedStdout)));
    // The summary of an L run is the last line of its expected output.
    EXPECT_TRUE(r.out.ends_with(c.summary + "\n")) << r.out;
}

const GccCase kMulti{"Multi", "tests/fixtures/gcc/multi.tmp", "tests/fixtures/gcc/multi", "run",
                     "gcc/multi.expected.MAP", {}, "", "", "",
                     "5 files, 60 symbols, 19 dimensions, 55 address entries", ""};
const GccCase kCyg{"Cyg", "tests/fixtures/gcc/cyg.tmp", "tests/fixtures/gcc/cyg", "c/work/cyg",
                   "gcc/cyg.expected.MAP", {}, "", "c", "",
                   "3 files, 8 symbols, 2 dimensions, 17 address entries", ""};

// One program built with DWARF 2, 4 and 5 line tables and debugging
// information; every build gives the MAP file of the DWARF 2 build.
GccCase modernBuild(const std::string& name, const std::string& build) {
    return GccCase{name, "tests/fixtures/gcc/modern-" + build + ".tmp", "tests/fixtures/gcc/modern", "run",
                   "gcc/modern.expected.MAP", {}, "", "", "",
                   "3 files, 19 symbols, 2 dimensions, 33 address entries", "modern"};
}

// The sensor firmware built by clang with DWARF 4 and DWARF 5 (addresses
// through .debug_addr, location lists by index): both give one MAP file.
GccCase sensorClangBuild(const std::string& name, const std::string& build) {
    return GccCase{name, "tests/fixtures/gcc/sensor-clang-" + build + ".tmp", "tests/fixtures/gcc/sensor", "run",
                   "gcc/sensor-clang.expected.MAP", {}, "", "", "",
                   "5 files, 26 symbols, 5 dimensions, 162 address entries", "sensor-clang"};
}

GccCase withListOption(GccCase c, const std::string& option, const std::string& expectedStdout) {
    c.name += "ListOption";
    c.options = {option};
    c.expectedStdout = expectedStdout;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    E2eGcc, GccImageRun,
    ::testing::Values(
        kMulti, withListOption(kMulti, "-l", "gcc/multi.expected.stdout"), kCyg,
        withListOption(kCyg, "-L", "gcc/cyg.expected.stdout"),
        GccCase{"LibraryDirectory", "tests/fixtures/gcc/libdir.tmp", "tests/fixtures/gcc/libdir", "run",
                "gcc/libdir.expected.MAP", {}, "c:\\gnuarm7", "run", "",
                "4 files, 8 symbols, 3 dimensions, 15 address entries", ""},
        GccCase{"NoLibraryDirectory", "tests/fixtures/gcc/libdir.tmp", "tests/fixtures/gcc/libdir", "run",
                "gcc/libdir-nolib.expected.MAP", {}, "", "", "",
                "3 files, 5 symbols, 3 dimensions, 10 address entries", ""},
        GccCase{"Blinky", "examples/blinky/blinky.tmp", "examples/blinky", "run", "gcc/blinky.expected.MAP",
                {}, "", "", "", "4 files, 24 symbols, 4 dimensions, 90 address entries", ""},
        // -O2: an out-of-line copy of an inlined function, a function removed
        // by the linker.
        GccCase{"Optimized", "tests/fixtures/gcc/optimized.tmp", "tests/fixtures/gcc/optimized", "run",
                "gcc/optimized.expected.MAP", {}, "", "", "",
                "2 files, 5 symbols, 0 dimensions, 36 address entries", ""},
        // -O0 locals and parameters at DW_OP_fbreg: frame base a location
        // list (ARM, DWARF 2) and DW_OP_call_frame_cfa (Thumb, DWARF 3).
        GccCase{"FrameArm", "tests/fixtures/gcc/frame_arm.tmp", "tests/fixtures/gcc/frame", "run",
                "gcc/frame_arm.expected.MAP", {}, "", "", "",
                "2 files, 15 symbols, 2 dimensions, 29 address entries", ""},
        GccCase{"FrameThumb", "tests/fixtures/gcc/frame_thumb.tmp", "tests/fixtures/gcc/frame", "run",
                "gcc/frame_thumb.expected.MAP", {}, "", "", "",
                "2 files, 15 symbols, 2 dimensions, 29 address entries", ""},
        modernBuild("ModernDwarf2", "dw2"), modernBuild("ModernDwarf4", "dw4"), modernBuild("ModernDwarf5", "dw5"),
        modernBuild("ModernDwarf5GccLineTable", "dw5-gcclines"),
        // -flto: the code in the <artificial> unit, its DIEs pointing into
        // the compile-time units.
        GccCase{"SensorLto", "tests/fixtures/gcc/sensor-lto.tmp", "tests/fixtures/gcc/sensor", "run",
                "gcc/sensor-lto.expected.MAP", {}, "", "", "",
                "5 files, 30 symbols, 10 dimensions, 163 address entries", ""},
        sensorClangBuild("SensorClangDwarf4", "dw4"), sensorClangBuild("SensorClangDwarf5", "dw5")),
    [](const ::testing::TestParamInfo<GccCase>& p) { return p.param.name; });

// Drops every line of a CR LF text that `drop` selects; a kept line has its
// line end unless it was the text's last line.
std::string withoutLines(const std::string& map, const std::function<bool(const std::string&)>& drop) {
    std::string out;
    const auto lines = splitCrLf(map);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (drop(lines[i])) continue;
        out += lines[i];
        if (i + 1 < lines.size()) out += "\r\n";
    }
    return out;
}

// Without the drive mapping the converted c:\work\cyg\... paths name no file:
// those File lines are left out, and the S and @ lines keep their file
// numbers.
TEST(E2eGcc, CygdriveFilesWithoutDriveMappingKeepTheirNumbers) {
    GccCase c = kCyg;
    c.driveC.clear();
    TempDir root;
    const PreparedRun run = prepare(root, c);

    const ProcessResult r = runKestab({"cyg"}, run.runDir, run.env);

    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, kBanner + "First pass...\n" + c.summary + "\n");
    const std::string expected = withoutLines(readFile(fixturePath(c.expectedMap)), [](const std::string& line) {
        return line.starts_with("File 1  : ") || line.starts_with("File 2  : ");
    });
    expectSameMap(expected, run.runDir / "cyg.MAP");
}

// Without objdump no listing is made: file 0 becomes "????????.???", which
// names no file, the listing @ lines and the end line are missing, no summary
// is printed and the run ends with -1.
TEST(E2eGcc, RunWithoutListingStopsBeforeTheListingLines) {
    TempDir root;
    const PreparedRun run = prepare(root, kMulti, /*withToolkit=*/false);

    const ProcessResult r = runKestab({"multi"}, run.runDir, run.env);

    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, kBanner + "Can not create list file. Exit code is: 0First pass...\n");
    // The last @ line of the line tables keeps its line end.
    const std::string expected = withoutLines(readFile(fixturePath(kMulti.expectedMap)), [](const std::string& line) {
        return line.starts_with("File 0  : ") || line.find(": F:000 L:") != std::string::npos ||
               line == "# End of file.";
    });
    expectSameMap(expected, run.runDir / "multi.MAP");
}

}  // namespace
}  // namespace kestab::test
