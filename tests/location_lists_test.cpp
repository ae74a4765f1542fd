// The reading of .debug_loclists lists that libdwarf refuses (those with
// GCC's view pairs): which entries give a location, and that a damaged list
// is never read past the section's end. The whole path, from the DIE to the
// S line, is covered by the lto_units end-to-end case.
#include "dwarf/location_lists.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kestab::dw {
namespace {

using Bytes = std::vector<unsigned char>;

struct ScanCase {
    const char* name;
    Bytes list;  // read from offset 1: a byte of another list stands before it
    bool complete;
    bool hasViewPair;
    unsigned locations;
    Bytes firstExpression;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class ScanLocationList : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanLocationList, CountsTheEntriesThatGiveALocation) {
    const ScanCase& c = GetParam();
    Bytes section{0x00};
    section.insert(section.end(), c.list.begin(), c.list.end());
    const ListScan scan = scanLocationList(section, 1, 4, false);
    EXPECT_EQ(scan.complete, c.complete);
    EXPECT_EQ(scan.hasViewPair, c.hasViewPair);
    EXPECT_EQ(scan.locations, c.locations);
    EXPECT_EQ(Bytes(scan.firstExpression.begin(), scan.firstExpression.end()), c.firstExpression);
}

INSTANTIATE_TEST_SUITE_P(
    LocationLists, ScanLocationList,
    ::testing::Values(
        // GCC's -gvariable-location-views=incompat5: base address, view
        // pair, offset pair (DW_OP_reg4), end of list.
        ScanCase{"ViewPairBeforeOneRange",
                 {0x06, 0x00, 0x10, 0x00, 0x00, 0x09, 0x00, 0x01, 0x04, 0x00, 0x10, 0x01, 0x54, 0x00},
                 true, true, 1, {0x54}},
        ScanCase{"TwoRanges",
                 {0x09, 0x00, 0x01, 0x04, 0x00, 0x08, 0x01, 0x54, 0x09, 0x01, 0x02, 0x04, 0x08, 0x10, 0x01, 0x55,
                  0x00},
                 true, true, 2, {0x54}},
        // Every other kind that gives a location, each with its operands,
        // and the index base address.
        ScanCase{"EveryLocatedKind",
                 {0x01, 0x80, 0x01,                                                  // base_addressx 128
                  0x02, 0x00, 0x01, 0x02, 0x7b, 0x7c,                                // startx_endx
                  0x03, 0x00, 0x10, 0x01, 0x50,                                      // startx_length
                  0x05, 0x01, 0x51,                                                  // default_location
                  0x07, 0, 0, 0, 0, 0x10, 0, 0, 0, 0x01, 0x52,                       // start_end
                  0x08, 0, 0, 0, 0, 0x90, 0x01, 0x01, 0x53, 0x00},                   // start_length
                 true, false, 5, {0x7b, 0x7c}},
        ScanCase{"EmptyList", {0x00}, true, false, 0, {}},
        ScanCase{"NoEndOfList", {0x09, 0x00, 0x01}, false, true, 0, {}},
        ScanCase{"ExpressionPastTheEnd", {0x09, 0x00, 0x01, 0x04, 0x00, 0x10, 0x05, 0x54, 0x00}, false, true, 0, {}},
        ScanCase{"LebPastTheEnd", {0x09, 0x80, 0x80}, false, false, 0, {}},
        ScanCase{"AddressPastTheEnd", {0x06, 0x00, 0x10}, false, false, 0, {}},
        ScanCase{"UnknownKind", {0x09, 0x00, 0x01, 0x0a, 0x00}, false, true, 0, {}}),
    [](const ::testing::TestParamInfo<ScanCase>& p) { return p.param.name; });

TEST(LocationLists, ListOffsetPastTheSectionReadsNothing) {
    const Bytes section{0x00, 0x00};
    EXPECT_FALSE(scanLocationList(section, 2, 4, false).complete);
    EXPECT_FALSE(scanLocationList(section, 1000, 4, false).complete);
}

// The offset table of a loclists unit, at base 4: entries count from the
// base; one that is not in the section, or that points out of it, gives
// nothing.
TEST(LocationLists, IndexedListOffsetStaysInTheSection) {
    const Bytes section{0xff, 0xff, 0xff, 0xff, 0x08, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(indexedListOffset(section, 4, 0, 4, false), std::optional<std::uint64_t>(12));
    EXPECT_EQ(indexedListOffset(section, 4, 1, 4, false), std::nullopt);  // 0x100 past the end
    EXPECT_EQ(indexedListOffset(section, 4, 2, 4, false), std::nullopt);  // entry cut off
    EXPECT_EQ(indexedListOffset(section, 4, 0x4000000000000000, 4, false), std::nullopt);
    EXPECT_EQ(indexedListOffset(section, 20, 0, 4, false), std::nullopt);
    EXPECT_EQ(indexedListOffset(section, 0, 0, 0, false), std::nullopt);
    const Bytes wide{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00};
    EXPECT_EQ(indexedListOffset(wide, 0, 0, 8, true), std::optional<std::uint64_t>(8));
}

struct OperationCase {
    const char* name;
    Bytes expression;
    std::optional<std::uint8_t> atom;  // none: nothing read
    std::uint64_t operand;
};

void PrintTo(const OperationCase& c, std::ostream* os) { *os << c.name; }

class FirstOperation : public ::testing::TestWithParam<OperationCase> {};

TEST_P(FirstOperation, GivesTheOperandAsLibdwarfDoes) {
    const OperationCase& c = GetParam();
    const std::optional<LeadingOperation> op = firstOperation(c.expression, 4, false);
    ASSERT_EQ(op.has_value(), c.atom.has_value());
    if (!op) return;
    EXPECT_EQ(op->atom, *c.atom);
    EXPECT_EQ(op->operand, c.operand);
}

INSTANTIATE_TEST_SUITE_P(
    LocationLists, FirstOperation,
    ::testing::Values(OperationCase{"Register", {0x54, 0x9f}, 0x54, 0},
                      OperationCase{"BaseRegisterNegative", {0x7b, 0x7c}, 0x7b, 0xfffffffffffffffc},
                      OperationCase{"FrameBaseWide", {0x91, 0x80, 0x7f}, 0x91, 0xffffffffffffff80},
                      OperationCase{"Address", {0x03, 0x04, 0x20, 0x00, 0x00}, 0x03, 0x2004},
                      OperationCase{"AddressIndex", {0xa1, 0x81, 0x01}, 0xa1, 129},
                      OperationCase{"GnuAddressIndex", {0xfb, 0x02}, 0xfb, 2},
                      OperationCase{"OtherOperation", {0x9c}, 0x9c, 0},
                      OperationCase{"Empty", {}, std::nullopt, 0},
                      OperationCase{"AddressCutOff", {0x03, 0x04, 0x20}, std::nullopt, 0},
                      OperationCase{"LebCutOff", {0x7b, 0x80}, std::nullopt, 0}),
    [](const ::testing::TestParamInfo<OperationCase>& p) { return p.param.name; });

struct CleanCase {
    const char* name;
    Bytes expression;
    unsigned addressSize;
    bool clean;
};

void PrintTo(const CleanCase& c, std::ostream* os) { *os << c.name; }

class ExpressionReadsCleanly : public ::testing::TestWithParam<CleanCase> {};

TEST_P(ExpressionReadsCleanly, OnlyPlainOperationsThatEndWithTheExpression) {
    const CleanCase& c = GetParam();
    EXPECT_EQ(expressionReadsCleanly(c.expression, c.addressSize), c.clean);
}

INSTANTIATE_TEST_SUITE_P(
    LocationLists, ExpressionReadsCleanly,
    ::testing::Values(
        CleanCase{"Empty", {}, 4, true},
        CleanCase{"FrameBase", {0x91, 0x6c}, 4, true},
        CleanCase{"Address", {0x03, 0xa8, 0x93, 0x00, 0x00}, 4, true},
        CleanCase{"AddressOfEightBytes", {0x03, 1, 2, 3, 4, 5, 6, 7, 8}, 8, true},
        CleanCase{"AddressOfAnOddSize", {0x03, 0xa8, 0x93}, 2, false},
        CleanCase{"AddressCutOff", {0x03, 0xa8, 0x93, 0x00}, 4, false},
        CleanCase{"BaseRegisterThenDeref", {0x7b, 0x74, 0x06}, 4, true},
        CleanCase{"Pieces", {0x50, 0x93, 0x04, 0x51, 0x93, 0x04}, 4, true},
        CleanCase{"ConstantsAndStackValue", {0x08, 0xff, 0x0a, 1, 2, 0x0c, 1, 2, 3, 4, 0x10, 0x80, 0x01, 0x22, 0x9f},
                  4, true},
        CleanCase{"BaseRegisterByNumber", {0x92, 0x0b, 0x7c}, 4, true},
        CleanCase{"FiveByteLeb", {0x91, 0x80, 0x80, 0x80, 0x80, 0x01}, 4, true},
        CleanCase{"SixByteLeb", {0x91, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, 4, false},
        CleanCase{"LebCutOff", {0x91, 0x80}, 4, false},
        CleanCase{"FixedOperandCutOff", {0x0c, 1, 2, 3}, 4, false},
        // Operations left to libdwarf: an entry value, the CFA, a reserved code.
        CleanCase{"EntryValue", {0xa3, 0x01, 0x50, 0x9f}, 4, false},
        CleanCase{"CallFrameCfa", {0x9c}, 4, false},
        CleanCase{"ReservedAfterAPlainOne", {0x91, 0x00, 0x01}, 4, false}),
    [](const ::testing::TestParamInfo<CleanCase>& p) { return p.param.name; });

}  // namespace
}  // namespace kestab::dw
