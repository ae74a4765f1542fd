// The scan of the listing for code addresses, as its bytes stream in.
#include "mapout/listing_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "driver/listing_generator.h"
#include "mapout/map_stream.h"
#include "mapout/map_writer.h"
#include "support/test_support.h"
#include "tables/map_model.h"

namespace kestab {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Scans `listing` handed over in pieces of `piece` bytes and writes the
// entries as the MAP writer does; returns the lines written.
std::string scanText(const TempDir& dir, const std::string& listing, std::size_t piece) {
    ListingScanner scanner;
    for (std::size_t i = 0; i < listing.size() && !scanner.stopped(); i += piece)
        scanner.feed(std::string_view(listing).substr(i, piece));
    scanner.finish();
    MapStream out;
    const std::string mapPath = (dir / "out.MAP").string();
    EXPECT_TRUE(out.create(mapPath));
    writeListingLines(scanner.takeEntries(), out);
    EXPECT_TRUE(out.close());
    return readFile(mapPath);
}

// The same answer whether the listing comes whole, byte by byte or in
// pieces that split lines and CR LF pairs anywhere.
void expectScan(const TempDir& dir, const std::string& listing, const std::string& expected) {
    for (const std::size_t piece : {listing.size() + 1, std::size_t{1}, std::size_t{7}, std::size_t{1024}})
        EXPECT_EQ(scanText(dir, listing, piece), expected) << "pieces of " << piece;
}

std::string at(const char* address, unsigned line) {
    return std::string("@") + address + ": F:000 L:" + std::to_string(line) + "\r\n";
}

TEST(ListingScan, LinesOfAListing) {
    struct Case {
        const char* what;
        std::string listing;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"instruction line", "\n    8000:\te59f0010 \tldr\tr0, [pc, #16]\n", at("8000", 2)},
        {"short address padded", "  1a:\t4770      \tbx\tlr\n", at("001a", 1)},
        {"upper-case digits", "1A: x\n", at("001a", 1)},
        {"symbol header", "00008000 <main>:\n", ""},
        {"title with relative name", "main.tmp:     file format elf32-littlearm\n", ""},
        {"title with drive path", "C:\\work\\main.tmp:     file format elf32-littlearm\n", at("000c", 1)},
        {"title with drive G", "G:\\work\\main.tmp:     file format elf32-littlearm\n", ""},
        {"only blanks before colon", "   : x\n", at("0000", 1)},
        {"colon first", ":x\n", at("0000", 1)},
        {"source line that looks like hex", "dead: label\n", at("dead", 1)},
        {"blanks inside the token", " 80 00 : x\n", at("8000", 1)},
        {"tab before colon", "8000\t: x\n", ""},
        {"no colon", "    8000 nothing\n", ""},
        {"first colon decides", "8000 <x>: 8004: y\n", ""},
        {"beyond 32 bits", "123456789: x\n", at("ffffffff", 1)},
        {"leading zeros are no overflow", "00000000001a: x\n", at("001a", 1)},
        {"eight digits", "fffffffe: x\n", at("fffffffe", 1)},
        {"byte above 0x7f",
         "8\xe0"
         "00: x\n",
         ""},
        {"31 characters", std::string(30, '0') + "1: x\n", at("0001", 1)},
        {"31 characters and blanks", " " + std::string(15, '0') + "   " + std::string(15, '0') + "1 : x\n",
         at("0001", 1)},
        {"32 characters", std::string(31, '0') + "1: x\n", ""},
        {"line numbers count every line", "title\n\n  int x;\n    8000:\tnop\nsource: text\n    8004:\tnop\n",
         at("8000", 4) + at("8004", 6)},
        {"debug_abbrev ends the scan", "8000: a\n8004: .debug_abbrev\n8008: b\n", at("8000", 1)},
        {"debug_abbrev anywhere", "8000: a\nContents of section .debug_abbrev\n8008: b\n", at("8000", 1)},
        {"no end marker, no final line end", "8000: a\n8004: b", at("8000", 1) + at("8004", 2)},
        {"CR LF lines", "title\r\n\r\n    8000:\tnop\r\n    8004:\tnop\r\n", at("8000", 3) + at("8004", 4)},
        {"lone CR is no line end", "a\rb\n8000: x\n", at("8000", 2)},
        {"empty listing", "", ""},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectScan(dir, c.listing, c.expected);
    }
}

TEST(ListingScan, LongLinesCountOncePerRead) {
    struct Case {
        const char* what;
        std::string listing;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // 1022 characters and the line end fit one read of 1023.
        {"1022 + LF", std::string(1022, 'x') + "\n8000: a\n", at("8000", 2)},
        {"1022 + CR LF", std::string(1022, 'x') + "\r\n8000: a\r\n", at("8000", 2)},
        // 1023 characters fill a read; the line end is a read of its own.
        {"1023 + LF", std::string(1023, 'x') + "\n8000: a\n", at("8000", 3)},
        {"1500 characters", std::string(1500, 'x') + "\n8000: a\n", at("8000", 3)},
        {"3000 characters", std::string(3000, 'x') + "\n8000: a\n", at("8000", 4)},
        // The rest of a long line is read like a line of its own.
        {"address in the rest", std::string(1023, 'x') + "12: y\n", at("0012", 2)},
        {"address at the start only", "8000: " + std::string(1100, 'y') + "\n", at("8000", 1)},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectScan(dir, c.listing, c.expected);
    }
}

TEST(ListingScan, HexTokens) {
    struct Case {
        std::string text;
        bool hex;
    };
    const std::vector<Case> cases = {
        {"", true},
        {"0123456789", true},
        {"abcdef", true},
        {"ABCDEF", true},
        {"8000", true},
        {"g", false},
        {"G", false},
        {"0x10", false},
        {"-1", false},
        {"80 00", false},
        {"80\t", false},
        {"<main>", false},
        {"@", false},
        {"`", false},
        {"/", false},
        {":", false},
        {"\xc1", false},
        {"\xe1", false},
        {std::string(1, '\0'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(isHexToken(c.text), c.hex);
    }
}

// The run's listing lines are made on the listing's thread and taken on
// another one block by block while the listing streams: together, and in
// order, they are the lines of a scan of the whole listing.
TEST(ListingScan, LinesTakenWhileTheListingStreamsAreTheWholeScan) {
    TempDir dir;
    std::string listing;
    for (unsigned i = 0; i < 40000; ++i) listing += "  " + std::to_string(0x8000 + 4 * i) + ":\te1a00000 \tnop\n";
    ListingLines lines;
    std::thread maker([&] {
        for (std::size_t i = 0; i < listing.size(); i += 4093) lines.feed(std::string_view(listing).substr(i, 4093));
        lines.finish();
    });
    std::vector<std::string> blocks;
    std::size_t takes = 0;
    while (lines.take(blocks)) ++takes;
    maker.join();
    EXPECT_FALSE(lines.take(blocks));  // stays finished
    std::string taken;
    for (const std::string& block : blocks) taken += block;
    EXPECT_GT(blocks.size(), 3u);
    EXPECT_GE(takes, 1u);
    EXPECT_TRUE(taken == scanText(dir, listing, listing.size() + 1));
}

}  // namespace
}  // namespace kestab
