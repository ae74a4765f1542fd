// The string pool, the file table and the type table's lookup rules.
#include <gtest/gtest.h>

#include "tables/map_model.h"

namespace kestab {
namespace {

TEST(StringPool, OffsetsFollowEachTextAndItsTerminator) {
    StringPool pool;
    ASSERT_TRUE(pool.reserve(StringPool::kDefaultUnits));
    EXPECT_EQ(pool.append("blinky.lst"), 0u);
    EXPECT_EQ(pool.append("POINTER"), 11u);
    const PoolOffset again = pool.append("POINTER");
    EXPECT_EQ(again, 19u);
    EXPECT_EQ(pool.copyOut(11), pool.copyOut(again));
    const PoolOffset empty = pool.append("");
    EXPECT_EQ(empty, 27u);
    EXPECT_EQ(pool.copyOut(empty), "");
    EXPECT_EQ(pool.append("x"), 28u);
}

TEST(StringPool, LongNamesAndGrowthPastTheClassicBlockStayWhole) {
    StringPool pool;
    ASSERT_TRUE(pool.reserve(StringPool::kDefaultUnits));
    const std::string longName(300, 'n');
    const PoolOffset first = pool.append(longName);
    EXPECT_EQ(pool.copyOut(first), longName);
    // Fill well past 65,504 bytes: offsets keep counting, nothing is lost.
    PoolOffset last = 0;
    for (int i = 0; i < 1000; ++i) last = pool.append(std::string(99, static_cast<char>('a' + i % 26)));
    EXPECT_EQ(last, 301u + 999u * 100u);
    EXPECT_EQ(pool.copyOut(last), std::string(99, static_cast<char>('a' + 999 % 26)));
    EXPECT_EQ(pool.copyOut(first), longName);
}

TEST(FileTable, FindComparesWholeNamesCaseSensitively) {
    StringPool pool;
    FileTable files(pool);
    EXPECT_EQ(files.find("main.c"), -1);
    files.add("blinky.lst");
    files.add("./src/main.c");
    files.add("./src/main.cpp");
    EXPECT_EQ(files.find("blinky.lst"), 0);
    EXPECT_EQ(files.find("./src/main.c"), 1);
    EXPECT_EQ(files.find("./src/main.cpp"), 2);
    EXPECT_EQ(files.find("./src/Main.c"), -1);
    EXPECT_EQ(files.find("./src/main"), -1);     // a proper prefix of an entry
    EXPECT_EQ(files.find("./src/main.c.o"), -1);  // an entry is a prefix of it
    EXPECT_EQ(files.count(), 3u);
}

TEST(FileTable, DuplicateNamesFindTheLowestEntryAndThereIsNoCeiling) {
    StringPool pool;
    FileTable files(pool);
    files.add("????????.???");
    for (int i = 1; i < 300; ++i) files.add("./unit" + std::to_string(i) + ".c");
    files.add("./unit7.c");
    EXPECT_EQ(files.count(), 301u);
    EXPECT_EQ(files.find("./unit7.c"), 7);
    EXPECT_EQ(files.find("./unit299.c"), 299);
    EXPECT_EQ(files.name(299), "./unit299.c");
}

TypeEntry type(std::uint32_t offset, std::uint32_t size, std::int32_t encoding, std::int32_t kind,
               std::vector<std::uint32_t> dims = {}) {
    TypeEntry entry;
    entry.dieOffset = offset;
    entry.byteSize = size;
    entry.encoding = encoding;
    entry.kind = kind;
    entry.dims = std::move(dims);
    return entry;
}

TEST(TypeTable, LookupTakesTheLowestRowAndIsArrayTheLowestArrayRow) {
    TypeTable types;
    types.add(type(0x2d, 2, 5, kTypeBasic));
    types.add(type(0x40, 4, 7, kTypeBasic));
    types.add(type(0x2d, 1, 8, kTypeArray));
    types.appendDimension(4);
    types.appendDimension(10);

    std::uint32_t size = 99;
    std::int32_t encoding = 99;
    std::vector<std::uint32_t> dims{1, 2, 3};
    types.lookup(0x2d, size, encoding, dims);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(encoding, 5);
    EXPECT_TRUE(dims.empty());
    EXPECT_TRUE(types.isArray(0x2d));  // a later row with the key is an array
    EXPECT_FALSE(types.isArray(0x40));
    EXPECT_EQ(types.row(2).dims, (std::vector<std::uint32_t>{4, 10}));

    // No row: the outputs stay as the caller set them.
    types.lookup(0x99, size, encoding, dims);
    EXPECT_EQ(size, 2u);
    EXPECT_FALSE(types.findRow(0x99).has_value());
}

TEST(TypeTable, DimensionsGoToTheNewestRowAndAreIgnoredWhileEmpty) {
    TypeTable types;
    types.appendDimension(7);
    EXPECT_EQ(types.count(), 0u);
    types.add(type(0x10, 1, 0, kTypeArray));
    types.appendDimension(3);
    types.add(type(0x20, 4, 5, kTypeBasic));
    types.appendDimension(9);
    EXPECT_EQ(types.row(0).dims, std::vector<std::uint32_t>{3});
    EXPECT_EQ(types.row(1).dims, std::vector<std::uint32_t>{9});
}

TEST(TypeTable, AliasesAreFollowedOnlyWhenTheKeyHasNoRowAndCyclesEnd) {
    TypeTable types;
    types.add(type(0x30, 4, 7, kTypeBasic));
    types.add(type(0x50, 1, 0, kTypeArray, {16}));
    types.addAlias(0x60, 0x30);  // typedef U32
    types.addAlias(0x68, 0x60);  // volatile U32
    types.addAlias(0x70, 0x50);  // const char[16]
    types.addAlias(0x80, 0x88);  // a cycle
    types.addAlias(0x88, 0x80);
    types.addAlias(0x90, 0x999);  // names nothing known

    EXPECT_EQ(types.findRow(0x68), 0u);
    EXPECT_TRUE(types.isArray(0x70));
    EXPECT_FALSE(types.isArray(0x68));
    EXPECT_FALSE(types.findRow(0x80).has_value());
    EXPECT_FALSE(types.findRow(0x90).has_value());
}

TEST(TypeTable, GrowsPastTheClassicCapacityWithTheSameAnswers) {
    TypeTable types;
    for (std::uint32_t i = 0; i < 12000; ++i) types.add(type(0x100 + i * 8, i % 9, 5, i % 3 == 0 ? kTypeArray : kTypeBasic));
    types.add(type(0x100, 77, 0, kTypeBasic));
    EXPECT_EQ(types.count(), 12001u);
    EXPECT_EQ(types.findRow(0x100 + 11999 * 8), 11999u);
    EXPECT_EQ(types.findRow(0x100), 0u);  // the duplicate at the end does not win
    EXPECT_TRUE(types.isArray(0x100 + 9999 * 8));
}

// Offsets anywhere in 32 bits, 0 and the highest among them, keep the first
// value given for them while the map grows.
TEST(TypeTable, OffsetKeysAtBothEndsAndDenseRunsKeepTheirFirstRow) {
    TypeTable types;
    const std::uint32_t edges[] = {0, 1, 0xffffffffu, 0x80000000u, 0xfffffffeu};
    for (const std::uint32_t key : edges) types.add(type(key, 0, 0, kTypeArray));
    for (std::uint32_t i = 0; i < 5000; ++i) types.add(type(i << 12, 1, 0, kTypeBasic));
    for (const std::uint32_t key : edges) types.add(type(key, 2, 0, kTypeBasic));
    types.addAlias(0x7ffffff0u, 0xffffffffu);  // an alias of the highest key
    EXPECT_EQ(types.findRow(0x7ffffff0u), 2u);
    for (std::uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(types.findRow(edges[i]), i) << edges[i];
        EXPECT_TRUE(types.isArray(edges[i])) << edges[i];
    }
    EXPECT_EQ(types.findRow(4999u << 12), 5u + 4999u);
    EXPECT_FALSE(types.findRow(0x7fffffffu).has_value());
    EXPECT_FALSE(types.isArray(4096));
}

}  // namespace
}  // namespace kestab
