// The command line, the three derived names, the image checks and the exit
// statuses, run against the built binary.
#include <gtest/gtest.h>

#include <climits>
#include <regex>

#include "driver/about.h"
#include "driver/run.h"
#include "support/test_support.h"

namespace kestab {
namespace {

using test::fixturePath;
using test::readFile;
using test::runKestab;
using test::TempDir;
namespace fs = std::filesystem;

constexpr const char* kBanner = "ELF Map file generator, version 1.01\n";
constexpr const char* kUsage = "\nUsage: KESTAB <filename>\n\n";

// An environment with no settings store, so no listing can be made.
std::map<std::string, std::string> noSettings(const TempDir& dir) {
    return {{"KESTAB_REGISTRY", ""}, {"WINEPREFIX", (dir / "wine").string()}, {"HOME", dir.path().string()}};
}

struct ArgumentCase {
    std::vector<std::string> args;
    int status;
    std::string out;
};

TEST(CommandLine, UsageAndInvalidOptions) {
    TempDir dir;
    const ArgumentCase cases[] = {
        {{}, 255, std::string(kBanner) + kUsage},
        {{"prog", "-x"}, 255, "Invalid option: -x\n"},
        {{"prog", "x"}, 255, "Invalid option: x\n"},
        {{"prog", "-qx"}, 255, "Invalid option: -qx\n"},
        {{"prog", "-q", "-b"}, 255, "Invalid option: -b\n"},
        {{"prog", "-a", ""}, 255, "Invalid option: \n"},
    };
    for (const auto& c : cases) {
        const auto result = runKestab(c.args, dir.path(), noSettings(dir));
        EXPECT_EQ(result.status, c.status) << testing::PrintToString(c.args);
        EXPECT_EQ(result.out, c.out) << testing::PrintToString(c.args);
        EXPECT_EQ(result.err, "");
    }
}

// --help and --version are answered only as the whole command line; any
// other first argument, however it looks, is a file name.
TEST(CommandLine, HelpAndVersionOnlyAsTheOneArgument) {
    TempDir dir;
    const ArgumentCase cases[] = {
        {{"--help"}, 0, helpText()},
        {{"--version"}, 0, versionText()},
        {{"-q"}, 254, std::string(kBanner) + "Cannot open input file: -q.tmp\n"},
        {{"--helpx"}, 254, std::string(kBanner) + "Cannot open input file: --helpx.tmp\n"},
        {{"--VERSION"}, 254, std::string(kBanner) + "Cannot open input file: --VERSION.tmp\n"},
        {{"--help", "extra"}, 255, "Invalid option: extra\n"},
        {{"--version", "-q"}, 254, "Cannot open input file: --version.tmp\n"},
    };
    for (const auto& c : cases) {
        const auto result = runKestab(c.args, dir.path(), noSettings(dir));
        EXPECT_EQ(result.status, c.status) << testing::PrintToString(c.args);
        EXPECT_EQ(result.out, c.out) << testing::PrintToString(c.args);
        EXPECT_EQ(result.err, "") << testing::PrintToString(c.args);
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
    // The banner stays as it was; --version names the same version and the
    // libdwarf it was built with; the usage covers what a user looks for.
    EXPECT_EQ(bannerText(), kBanner);
    EXPECT_TRUE(std::regex_match(versionText(), std::regex("kestab 1\\.01\nlibdwarf [0-9][0-9.]*\n")))
        << versionText();
    for (const char* part : {"Usage: kestab <filename> [-A] [-C] [-D] [-E] [-L] [-Q] [-U]\n", "-U  ", "Exit status:",
                             "\n  255  ", "KESTAB_REGISTRY", "man kestab", "README.md"})
        EXPECT_NE(helpText().find(part), std::string::npos) << part;
}

// Text that cannot be written is not a success.
TEST(CommandLine, HelpToAFullDeviceFails) {
    const auto result =
        test::runProcess({"/bin/sh", "-c", "\"$0\" --help >/dev/full", test::kestabBinary().string()});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "kestab: cannot write to standard output\n");
}

TEST(CommandLine, MissingImageNamesTheTmpFileAndCreatesNoMap) {
    TempDir dir;
    test::writeFile(dir / "prog.MAP", "keep me");
    const ArgumentCase cases[] = {
        {{"prog"}, 254, std::string(kBanner) + "Cannot open input file: prog.tmp\n"},
        {{"prog", "-"}, 254, std::string(kBanner) + "Cannot open input file: prog.tmp\n"},
        {{"prog", "-a", "-c", "-d", "-e"}, 254, std::string(kBanner) + "Cannot open input file: prog.tmp\n"},
        {{"prog", "-QU"}, 254, "Cannot open input file: prog.TMP\n"},
        {{"prog", "-q", "-u"}, 254, "Cannot open input file: prog.TMP\n"},
        {{"blinky.elf"}, 254, std::string(kBanner) + "Cannot open input file: blinky.tmp\n"},
        {{"blinky."}, 254, std::string(kBanner) + "Cannot open input file: blinky.tmp\n"},
        {{"build.old/blinky"}, 254, std::string(kBanner) + "Cannot open input file: build.tmp\n"},
        {{"C:\\work\\blinky.elf"}, 254, std::string(kBanner) + "Cannot open input file: C:\\work\\blinky.tmp\n"},
    };
    for (const auto& c : cases) {
        const auto result = runKestab(c.args, dir.path(), noSettings(dir));
        EXPECT_EQ(result.status, c.status) << testing::PrintToString(c.args);
        EXPECT_EQ(result.out, c.out) << testing::PrintToString(c.args);
    }
    EXPECT_EQ(readFile(dir / "prog.MAP"), "keep me");
}

TEST(CommandLine, DerivedNames) {
    const struct {
        const char* argument;
        bool upper;
        DerivedNames names;
    } cases[] = {
        {"C:\\work\\blinky.elf", false, {"C:\\work\\blinky.tmp", "C:\\work\\blinky.MAP", "C:\\work\\blinky.lst"}},
        {"blinky", false, {"blinky.tmp", "blinky.MAP", "blinky.lst"}},
        {"blinky.", false, {"blinky.tmp", "blinky.MAP", "blinky.lst"}},
        {"build.old/blinky", false, {"build.tmp", "build.MAP", "build.lst"}},
        {"Prog", true, {"Prog.TMP", "Prog.MAP", "Prog.LST"}},
        {"a b/c d.x", false, {"a b/c d.tmp", "a b/c d.MAP", "a b/c d.lst"}},
    };
    for (const auto& c : cases) {
        const DerivedNames names = deriveNames(c.argument, c.upper);
        EXPECT_EQ(names.image, c.names.image) << c.argument;
        EXPECT_EQ(names.map, c.names.map) << c.argument;
        EXPECT_EQ(names.listing, c.names.listing) << c.argument;
    }
    EXPECT_EQ(copyToken(" \t$ab$cd", false), "ab");
    EXPECT_EQ(copyToken(".lst", true), ".LST");
    EXPECT_TRUE(isTokenSeparator('$'));
    EXPECT_FALSE(isTokenSeparator('.'));
}

TEST(CommandLine, MapFileThatCannotBeCreated) {
    TempDir dir;
    fs::copy_file(fixturePath("misc/small.tmp"), dir / "prog.tmp");
    fs::create_directory(dir / "prog.MAP");
    const auto result = runKestab({"prog"}, dir.path(), noSettings(dir));
    EXPECT_EQ(result.status, 254);
    EXPECT_EQ(result.out, std::string(kBanner) + "Cannot open output file: prog.MAP\n");
}

TEST(CommandLine, FileNameBeyondThePathLimitIsRefused) {
    TempDir dir;
    const std::string name(PATH_MAX + 10, 'n');
    const auto result = runKestab({name, "-q"}, dir.path(), noSettings(dir));
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, "File name too long: " + name + "\n");
}

struct ImageCase {
    const char* image;
    const char* message;
};

// Each rejected image: the listing cannot be made (no settings), the reader
// reports why it cannot open, the walk fails and the MAP file is empty.
TEST(ImageAccess, RejectedImagesGiveTheirMessageAndAnEmptyMap) {
    const ImageCase cases[] = {
        {"misc/dual.tmp", "This is not DWARF2 or DWARF3 format. Program doesn't support any other formats.\n"},
        {"misc/asd.tmp", "This is not DWARF2 or DWARF3 format. Program doesn't support any other formats.\n"},
        {"misc/nodebug.tmp", "This is not DWARF2 or DWARF3 format. Program doesn't support any other formats.\n"},
        {"misc/elf64.tmp", "This is not DWARF2 or DWARF3 format. Program doesn't support any other formats.\n"},
        {"misc/badshstr.tmp", "This is not DWARF2 or DWARF3 format. Program doesn't support any other formats.\n"},
        {"misc/text.tmp", "This file has not ELF format.\n"},
        {"misc/archive.tmp", "This file has not ELF format.\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        fs::copy_file(fixturePath(c.image), dir / "img.tmp");
        const auto result = runKestab({"img", "-q"}, dir.path(), noSettings(dir));
        EXPECT_EQ(result.status, 255) << c.image;
        EXPECT_EQ(result.out, std::string("Can not create list file. Exit code is: 0First pass...\n") + c.message)
            << c.image;
        EXPECT_NE(result.err.find("ERROR:  Attempting to dump address lines:  "), std::string::npos) << c.image;
        EXPECT_EQ(readFile(dir / "img.MAP"), "") << c.image;
    }
}

TEST(ImageAccess, GoodImageOpensWithOnlyTheFirstPassLine) {
    TempDir dir;
    fs::copy_file(fixturePath("misc/small.tmp"), dir / "img.tmp");
    const auto result = runKestab({"img", "-q"}, dir.path(), noSettings(dir));
    EXPECT_EQ(result.out, "Can not create list file. Exit code is: 0First pass...\n");
    // Standard error says why: there is no toolkit, so no objdump.
    EXPECT_EQ(result.err, "kestab: cannot run /bin/arm-elf-objdump: No such file or directory\n");
    // Without a listing the run ends before the end line.
    EXPECT_EQ(result.status, 255);
    const std::string map = readFile(dir / "img.MAP");
    EXPECT_EQ(map.rfind("# VORNEX ASCII Map file, Version:1.1.\r\n", 0), 0u);
    EXPECT_EQ(map.find("# End of file."), std::string::npos);
}

}  // namespace
}  // namespace kestab
