// The MAP writer's line formats, the drive-path conversion and the type
// resolution, on models built by hand.
#include <gtest/gtest.h>

#include "mapout/map_writer.h"
#include "mapout/type_resolver.h"
#include "support/test_support.h"

namespace kestab {
namespace {

using test::readFile;
using test::TempDir;

// Runs `write` against a fresh MAP stream and returns the bytes it wrote.
template <class Write>
std::string written(Write&& write) {
    TempDir dir;
    const auto path = (dir / "out.MAP").string();
    MapStream out;
    EXPECT_TRUE(out.create(path));
    write(out);
    EXPECT_TRUE(out.close());
    return readFile(path);
}

SymbolEntry symbol(MapModel& model, const std::string& name, std::uint32_t file, std::uint32_t flags,
                   std::uint32_t address, std::int32_t aux1, std::uint32_t aux2, std::uint32_t typeRef = 0) {
    SymbolEntry entry;
    entry.name = model.pool.append(name);
    entry.fileIndex = file;
    entry.typeFlags = flags;
    entry.address = address;
    entry.aux1 = aux1;
    entry.aux2 = aux2;
    entry.typeRef = typeRef;
    return entry;
}

// Lines made before their turn are kept in memory and copied later: the
// copy must be the same bytes whatever the pieces and however many blocks
// they fill (a piece larger than a block included).
TEST(MapWriter, LinesKeptInMemoryAreWrittenUnchanged) {
    std::string expected;
    MapStream kept;
    kept.keepInMemory();
    for (std::size_t i = 0; i < 5000; ++i) {
        const std::string piece(i % 97, static_cast<char>('a' + i % 26));
        kept.write(piece);
        kept.printf("%u", static_cast<unsigned>(i));
        expected += piece + std::to_string(i);
    }
    const std::string large(200000, 'x');
    kept.write(large);
    expected += large;
    const TextBlocks text = kept.take();
    EXPECT_GT(text.blocks().size(), 3u);
    EXPECT_EQ(written([&](MapStream& out) {
                  out.write(text);
                  out.write(kept.take());  // taken already: nothing more
              }),
              expected);
}

// A MAP file left by an earlier run is replaced on every way the stream is
// used: its old bytes never show through, also when the stream writes at
// other places than its end.
TEST(MapWriter, OldMapFileNeverShowsThrough) {
    struct Case {
        const char* what;
        void (*use)(MapStream&);
        std::string_view expected;
    };
    const Case cases[] = {
        {"closed unwritten", [](MapStream& out) { EXPECT_TRUE(out.close()); }, ""},
        {"dropped unclosed", [](MapStream&) {}, ""},
        {"dropped, then written",
         [](MapStream& out) {
             out.dropOldContent();
             out.write("new");
         },
         "new"},
        {"written at once", [](MapStream& out) { out.write("new"); }, "new"},
        {"tail first, head later",
         [](MapStream& out) {
             ASSERT_TRUE(out.seekTo(4));
             out.write("tail");
             ASSERT_TRUE(out.seekTo(0));
             out.write("head");
             ASSERT_TRUE(out.seekTo(8));
             out.write("!");
         },
         "headtail!"},
        {"written ahead only",
         [](MapStream& out) {
             ASSERT_TRUE(out.seekTo(4));
             out.write("tail");
         },
         std::string_view("\0\0\0\0tail", 8)},
        {"written ahead, then anew",
         [](MapStream& out) {
             ASSERT_TRUE(out.seekTo(10));
             out.write("far too long");
             ASSERT_TRUE(out.restart());
             out.write("ab");
         },
         "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const auto path = (dir / "out.MAP").string();
        test::writeFile(path, std::string(100000, 'o'));
        {
            MapStream out;
            ASSERT_TRUE(out.create(path));
            c.use(out);
        }
        EXPECT_EQ(readFile(path), c.expected);
    }
}

TEST(MapWriter, HeaderAndEndLine) {
    EXPECT_EQ(written([](MapStream& out) {
                  writeMapHeader(out);
                  writeMapEnd(out);
              }),
              "# VORNEX ASCII Map file, Version:1.1.\r\n# End of file.");
}

TEST(MapWriter, DrivePathConversionAppliesOnlyToCygdriveNames) {
    EXPECT_EQ(toDrivePath("/cygdrive/d/work/main.c"), "d:\\work\\main.c");
    EXPECT_EQ(toDrivePath("/cygdrive/c/a b/x.c"), "c:\\a b\\x.c");
    EXPECT_EQ(toDrivePath("/cygdrive/"), "");
    EXPECT_EQ(toDrivePath("/cygdrive/e"), "e:");
    EXPECT_EQ(toDrivePath("/home/me/fw/main.c"), "/home/me/fw/main.c");
    EXPECT_EQ(toDrivePath("./main.c"), "./main.c");
}

TEST(MapWriter, FileLinesProbeConvertedPathThenLibraryDirectoryAndKeepNumbers) {
    MapModel model;
    model.files.add("fw.lst");
    model.files.add("/cygdrive/c/work/main.c");
    model.files.add("./gone.c");
    model.files.add("./crt0.c");
    for (int i = 4; i < 11; ++i) model.files.add("./f" + std::to_string(i) + ".c");
    const std::string lib = "C:\\GNUARM7\\lib\\";
    const ExistenceProbe probe = [&](std::string_view dir, std::string_view name) {
        const std::string joined = std::string(dir) + std::string(name);
        return joined == "fw.lst" || joined == "c:\\work\\main.c" || joined == lib + "./crt0.c" ||
               joined == "./f10.c";
    };
    std::string echo;
    const std::string map = written([&](MapStream& out) { writeFileLines(model, out, lib, probe, &echo); });
    EXPECT_EQ(map,
              "File 0  : fw.lst\r\n"
              "File 1  : c:\\work\\main.c\r\n"
              "File 3  : C:\\GNUARM7\\lib\\./crt0.c\r\n"
              "File 10 : ./f10.c\r\n");
    EXPECT_NE(echo.find("F0   : fw.lst\nF1   : c:\\work\\main.c\nF2   : ./gone.c\n"), std::string::npos);
    EXPECT_NE(echo.find("F10  : ./f10.c\n"), std::string::npos);
}

TEST(MapWriter, SymbolLinesWithFieldsDimsAndEcho) {
    MapModel model;
    model.dimensions = {1, 8, 2, 2, 5, 0};
    model.symbols.push_back(symbol(model, "main", 1, 0x30, 0x8000, 0, 0x803e));
    model.symbols.push_back(symbol(model, "table", 2, 0x8008, 0x10000, -1, 0));
    model.symbols.push_back(symbol(model, "grid", 12, 0x0009, 0x4010, 1, 2));
    model.symbols.push_back(symbol(model, "empty", 130, 0x0008, 0x4020, 1, 5));
    model.symbols.push_back(symbol(model, "r", 1, 0x8400, 0, 3, 0));
    std::string echo;
    const std::string map = written([&](MapStream& out) { EXPECT_TRUE(writeSymbolLines(model, out, &echo)); });
    EXPECT_EQ(map,
              "S0   : F:001 T:0030 A:8000 1:0000 2:803e main\r\n"
              "S1   : F:002 T:8008 A:10000 1:ffffffff 2:0001 table Dims: 8\r\n"
              "S2   : F:012 T:0009 A:4010 1:0001 2:0002 grid Dims: 2 5\r\n"
              "S3   : F:130 T:0008 A:4020 1:0001 2:0000 empty Dims:\r\n"
              "S4   : F:001 T:8400 A:0000 1:0003 2:0000 r\r\n");
    // The echo shows the index into the dimension list, never the sizes.
    EXPECT_EQ(echo,
              "S0   : F:001 T:0030 A:8000 1:0000 2:803e main\n"
              "S1   : F:002 T:8008 A:10000 1:ffffffff 2:0000 table\n"
              "S2   : F:012 T:0009 A:4010 1:0001 2:0002 grid\n"
              "S3   : F:130 T:0008 A:4020 1:0001 2:0005 empty\n"
              "S4   : F:001 T:8400 A:0000 1:0003 2:0000 r\n");
}

TEST(MapWriter, DimensionRunPastTheListIsLeftOut) {
    MapModel model;
    model.dimensions = {1, 8, 9};  // the second count claims 9 sizes that are not there
    model.symbols.push_back(symbol(model, "bad", 1, 0x8008, 0, -1, 2));
    EXPECT_EQ(written([&](MapStream& out) { writeSymbolLines(model, out, nullptr); }),
              "S0   : F:001 T:8008 A:0000 1:ffffffff 2:0009 bad\r\n");
}

// A line end inside a name cannot make a MAP line of its own.
TEST(MapWriter, LineEndsInsideNamesAreWrittenAsQuestionMarks) {
    MapModel model;
    model.files.add("fw.lst");
    model.files.add("./a\r\nS0   : fake.c");
    model.symbols.push_back(symbol(model, "x\ny\rz", 1, 0x30, 0x8000, 0, 0));
    const ExistenceProbe probe = [](std::string_view, std::string_view) { return true; };
    EXPECT_EQ(written([&](MapStream& out) {
                  writeFileLines(model, out, "", probe, nullptr);
                  writeSymbolLines(model, out, nullptr);
              }),
              "File 0  : fw.lst\r\n"
              "File 1  : ./a??S0   : fake.c\r\n"
              "S0   : F:001 T:0030 A:8000 1:0000 2:0000 x?y?z\r\n");
}

// Line-table rows and listing entries share one format; only the rows count
// as address entries.
TEST(MapWriter, AddressLinesOfLineTablesAndListing) {
    MapModel model;
    model.lineRows = {{0x1a, 1, 10}, {0x12345678, 12, 4294967295u}, {0xabcde, 1234, 0}, {0xffffffff, 75, 100}};
    EXPECT_EQ(written([&](MapStream& out) {
                  writeLineTableLines(model, out);
                  writeListingLines({{0x8000, 7}, {0, 1}}, out);
              }),
              "@001a: F:001 L:10\r\n@12345678: F:012 L:4294967295\r\n@abcde: F:1234 L:0\r\n"
              "@ffffffff: F:075 L:100\r\n@8000: F:000 L:7\r\n@0000: F:000 L:1\r\n");
    EXPECT_EQ(model.addressEntryCount, 4u);
}

TEST(MapWriter, SummaryLineUnlessQuiet) {
    MapModel model;
    model.files.add("a.lst");
    model.addressEntryCount = 7;
    model.dimensions = {1, 4};
    testing::internal::CaptureStdout();
    printSummary(model, false);
    printSummary(model, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "1 files, 0 symbols, 2 dimensions, 7 address entries\n");
}

struct ResolveCase {
    const char* what;
    std::uint32_t flags;
    std::uint32_t size;
    std::int32_t encoding;
    std::uint32_t expected;
};

TEST(TypeResolver, SizeAndUnsignedBitsAreOredIn) {
    const ResolveCase cases[] = {
        {"4-byte unsigned", 0x0000, 4, 0x07, 0x0102},
        {"2-byte signed in a register", 0x8400, 2, 0x05, 0x8401},
        {"8-byte unsigned char encoding", 0x8000, 8, 0x08, 0x8103},
        {"1 byte", 0x8000, 1, 0x06, 0x8000},
        {"3 bytes", 0x0000, 3, 0x07, 0x0100},
        {"16 bytes", 0x0000, 16, 0x05, 0x0000},
        {"no size", 0x0000, 0, 0x00, 0x0000},
        {"size -1", 0x0000, 0xffffffff, 0x05, 0x0000},
        {"bits 0-1 already set", 0x0001, 4, 0x05, 0x0003},
    };
    for (const auto& c : cases) {
        MapModel model;
        TypeEntry entry;
        entry.dieOffset = 0x40;
        entry.byteSize = c.size;
        entry.encoding = c.encoding;
        model.types.add(entry);
        model.symbols.push_back(symbol(model, "v", 1, c.flags, 0, 0, 0, 0x40));
        TypeResolver::run(model);
        EXPECT_EQ(model.symbols[0].typeFlags, c.expected) << c.what;
        EXPECT_EQ(model.dimensionCount(), 0u) << c.what;
    }
}

TEST(TypeResolver, ArraysAreFlattenedPerSymbol) {
    MapModel model;
    TypeEntry vector;
    vector.dieOffset = 0x50;
    vector.byteSize = 1;
    vector.kind = kTypeArray;
    vector.dims = {8};
    model.types.add(vector);
    TypeEntry matrix = vector;
    matrix.dieOffset = 0x60;
    matrix.byteSize = 2;
    matrix.dims = {2, 5};
    model.types.add(matrix);
    TypeEntry bare = vector;
    bare.dieOffset = 0x70;
    bare.dims = {};
    model.types.add(bare);

    model.symbols.push_back(symbol(model, "f", 1, 0x0030, 0x8000, 0, 0x803e));
    model.symbols.push_back(symbol(model, "v", 1, 0x8000, 0, -1, 0, 0x50));
    model.symbols.push_back(symbol(model, "m", 1, 0x0000, 0, 1, 0, 0x60));
    model.symbols.push_back(symbol(model, "v2", 1, 0x0000, 0, 1, 0, 0x50));
    model.symbols.push_back(symbol(model, "b", 1, 0x0000, 0, 1, 0, 0x70));
    model.symbols.push_back(symbol(model, "none", 1, 0x8000, 0, -1, 0, 0));
    TypeResolver::run(model);

    EXPECT_EQ(model.symbols[0].typeFlags, 0x0030u);
    EXPECT_EQ(model.symbols[0].aux2, 0x803eu);
    EXPECT_EQ(model.symbols[1].typeFlags, 0x8008u);
    EXPECT_EQ(model.symbols[1].aux2, 0u);
    EXPECT_EQ(model.symbols[2].typeFlags, 0x0009u);
    EXPECT_EQ(model.symbols[2].aux2, 2u);
    EXPECT_EQ(model.symbols[3].aux2, 5u);
    EXPECT_EQ(model.symbols[4].aux2, 7u);
    EXPECT_EQ(model.symbols[5].typeFlags, 0x8000u);
    EXPECT_EQ(model.dimensions, (std::vector<std::uint32_t>{1, 8, 2, 2, 5, 1, 8, 0}));
}

}  // namespace
}  // namespace kestab
