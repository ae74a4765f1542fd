// Whole runs of the binary on the hand-written DWARF images of
// tests/fixtures/asm (see the comments in each .s file), compared byte for
// byte with the MAP files written by hand from that DWARF.
//
// Each run happens in a fresh directory holding the placeholder sources and
// the image, with a toolkit whose objdump writes nothing: the listing file
// is empty, so the MAP file has no listing @ lines and file 0 is <name>.lst.
#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kestab {
namespace {

using test::fixturePath;
using test::readFile;
using test::runKestab;
using test::TempDir;
namespace fs = std::filesystem;

constexpr const char* kHead = "ELF Map file generator, version 1.01\nFirst pass...\n";

struct AsmCase {
    const char* image;  // base name of tests/fixtures/asm/<image>.tmp
    int status;
    // The summary line; empty for a run that fails before it.
    std::string summary;
    // The whole of standard error as a regular expression (empty: nothing
    // may be printed there). The "(%ld)" numbers of the reader's error
    // descriptors and the reader's own error texts are matched loosely.
    std::string err;
};

void PrintTo(const AsmCase& c, std::ostream* os) { *os << c.image; }

std::string summary(unsigned files, unsigned symbols, unsigned dims, unsigned addresses) {
    return std::to_string(files) + " files, " + std::to_string(symbols) + " symbols, " + std::to_string(dims) +
           " dimensions, " + std::to_string(addresses) + " address entries\n";
}

// A number that the reader's error descriptor gives to a "(%ld)" field.
#define NUM "-?[0-9]+"

const AsmCase kCases[] = {
    // DW_AT_external forms, the accepted and refused locations, location
    // lists, parameters and locals, functions with and without pc range,
    // symbols without name, file or with a header file.
    {"decode", 0, summary(2, 18, 0, 4), ""},
    // Upper bounds in every data form, count-only subrange, 2-D array, two
    // variables of one array type.
    {"bounds", 0, summary(2, 12, 24, 2), ""},
    // Pointer sizes through earlier, later, typedef'd and ref_addr types; a
    // ref_addr variable type; typedef/const/volatile; DW_AT_specification.
    {"typeref", 0, summary(2, 14, 0, 2), ""},
    // Missing source, repeated path, absolute name, shared unit offsets,
    // units without compilation directory, duplicate line rows, header rows.
    {"units", 0, summary(5, 5, 0, 12), ""},
    // A dimension list grown to 2000 values, every run written whole.
    {"dims", 0, summary(2, 2, 2000, 2), ""},
    // A unit without line program after a good one: the walk fails silently.
    {"noline", 255, "", ""},
    // A DWARF 5 unit: implicit_const file, size, encoding and bound,
    // flag_present, high_pc as an offset before low_pc, .debug_loclists
    // lists of one and of two ranges.
    {"dwarf5_forms", 0, summary(2, 4, 2, 2), ""},
    // A link-time unit named <artificial>, read after the compile-time unit
    // its ref_addr origins point into: addrx1, DW_OP_addrx,
    // DW_OP_GNU_addr_index, loclistx, a view pair; no row for an inlined
    // copy's parameter, a DIE without origin, a function without low_pc.
    {"lto_units", 0, summary(2, 9, 0, 2), ""},
    // Malformed images. A reference beyond its unit fails in the reader:
    // first on the pointer type, then on the variable.
    {"bad_typeref", 0, summary(2, 4, 0, 2),
     R"(ref formwith no ref! \(1\) err=\()" NUM R"(\)ref formwith no ref\?!: \(1\) \()" NUM R"(\))"},
    // The second unit's length runs past the section: the unit iteration
    // fails and the walk with it.
    {"bad_truncated", 255, "", R"(ERROR:  Attempting to dump address lines:  .+ \()" NUM "\\)\n"},
    // The unknown abbreviation stops the sibling step after the good
    // variable, and again the unit DIE's own sibling step, which has to
    // skip the same children.
    {"bad_abbrev", 0, summary(2, 1, 0, 2),
     R"(dwarf_siblingof: \(1\) \()" NUM R"(\)dwarf_siblingof: \(1\) \()" NUM R"(\))"},
    {"bad_typedef_cycle", 0, summary(2, 4, 0, 2), ""},
    {"bad_subrange", 0, summary(2, 2, 2, 2), ""},
    {"bad_decl_file", 0, summary(2, 1, 0, 2), ""},
};

#undef NUM

class AsmImage : public testing::TestWithParam<AsmCase> {};

// Lays out a run directory: the placeholder sources and the image under
// run/, a toolkit whose objdump prints nothing, and a settings store naming
// that toolkit.
struct RunDir {
    TempDir temp;
    fs::path run;
    std::map<std::string, std::string> env;

    explicit RunDir(const std::string& image) {
        run = temp / "run";
        fs::create_directories(run);
        for (const auto& entry : fs::directory_iterator(fixturePath("asm"))) {
            if (entry.path().extension() == ".c") fs::copy_file(entry.path(), run / entry.path().filename());
        }
        fs::copy_file(fixturePath("asm/" + image + ".tmp"), run / (image + ".tmp"));
        // A file of the name GCC gives its link-time units: such a unit
        // still names no source file.
        test::writeFile(run / "<artificial>", "");
        env = test::scriptedToolkitEnv(temp.path());
    }
};

TEST_P(AsmImage, MapFileStatusAndMessages) {
    const AsmCase& c = GetParam();
    RunDir dir(c.image);

    const auto result = runKestab({c.image}, dir.run, dir.env);

    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, std::string(kHead) + c.summary);
    const std::string expected = readFile(fixturePath(std::string("asm/") + c.image + ".expected.MAP"));
    const fs::path mapFile = dir.run / (std::string(c.image) + ".MAP");
    ASSERT_TRUE(fs::exists(mapFile));
    EXPECT_EQ(readFile(mapFile), expected);

    if (c.err.empty()) {
        EXPECT_EQ(result.err, "");
    } else {
        EXPECT_TRUE(std::regex_match(result.err, std::regex(c.err))) << "stderr: " << result.err;
    }
}

INSTANTIATE_TEST_SUITE_P(HandWrittenDwarf, AsmImage, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<AsmCase>& param) { return std::string(param.param.image); });

// Every committed image is built from a .s source by build.sh, has its
// expected MAP file and a row in the table above.
TEST(AsmFixtures, EveryImageHasSourceAndExpectedMap) {
    unsigned images = 0;
    for (const auto& entry : fs::directory_iterator(fixturePath("asm"))) {
        if (entry.path().extension() != ".tmp") continue;
        ++images;
        const std::string base = entry.path().stem().string();
        EXPECT_TRUE(fs::exists(fixturePath("asm/" + base + ".s"))) << base;
        EXPECT_TRUE(fs::exists(fixturePath("asm/" + base + ".expected.MAP"))) << base;
        bool listed = false;
        for (const auto& c : kCases) listed = listed || base == c.image;
        EXPECT_TRUE(listed) << base << " has no row in the table";
    }
    EXPECT_EQ(images, std::size(kCases));
}

// The committed images are what build.sh makes from the committed sources,
// so an edited .s file that was not rebuilt does not go unnoticed.
TEST(AsmFixtures, ImagesRebuildFromTheirSources) {
    if (test::runProcess({"/bin/sh", "-c", "command -v arm-none-eabi-as && command -v arm-none-eabi-ld"}).status != 0)
        GTEST_SKIP() << "arm-none-eabi binutils are not installed";
    TempDir out;
    const auto built = test::runProcess({"/bin/bash", fixturePath("asm/build.sh").string(), "-o", out.path().string()});
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    for (const auto& c : kCases) {
        const std::string image = std::string(c.image) + ".tmp";
        EXPECT_TRUE(readFile(out / image) == readFile(fixturePath("asm/" + image)))
            << image << " differs from what build.sh makes of " << c.image << ".s";
    }
}

}  // namespace
}  // namespace kestab
