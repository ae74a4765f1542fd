// The choice of a function's frame base among location-list entries and
// .debug_frame rows: the one covering the largest part of the function,
// ties the earliest. The whole path through libdwarf is covered by the
// frame_arm and frame_thumb end-to-end cases.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dwarf/reader_handles.h"
#include "support/fixture_reader.h"
#include "symbols/frame_base.h"
#include "symbols/removed_function.h"

namespace kestab::dw {

void PrintTo(const FrameBase& base, std::ostream* os) { *os << "r" << int{base.reg} << " + " << base.offset; }

namespace {

struct OverlapCase {
    const char* name;
    std::vector<AddressSpan> spans;
    std::uint64_t low;
    std::uint64_t high;
    std::optional<std::size_t> expected;
};

void PrintTo(const OverlapCase& c, std::ostream* os) { *os << c.name; }

class LargestOverlap : public ::testing::TestWithParam<OverlapCase> {};

TEST_P(LargestOverlap, PicksTheSpanCoveringMostOfTheRange) {
    const OverlapCase& c = GetParam();
    EXPECT_EQ(largestOverlap(c.spans, c.low, c.high), c.expected);
}

// GCC's ARM -O0 frame base list of a function at 0x8000..0x80c4: push,
// set-up, body, restore, return.
const std::vector<AddressSpan> kArmList{
    {0x8000, 0x8004}, {0x8004, 0x8008}, {0x8008, 0x80b4}, {0x80b4, 0x80b8}, {0x80b8, 0x80c4}};

INSTANTIATE_TEST_SUITE_P(
    FrameBase, LargestOverlap,
    ::testing::Values(
        OverlapCase{"Body", kArmList, 0x8000, 0x80c4, 2},
        // Equal coverage: the earlier span wins, whatever follows.
        OverlapCase{"TieTakesEarliest", {{0x10, 0x20}, {0x20, 0x30}, {0x30, 0x38}}, 0x10, 0x30, 0},
        // Only the part inside the function counts: the first span is longer
        // but lies mostly before it.
        OverlapCase{"OnlyThePartInsideCounts", {{0x0, 0x100}, {0x100, 0x130}}, 0xf0, 0x130, 1},
        OverlapCase{"NothingInside", {{0x0, 0x10}, {0x40, 0x50}}, 0x10, 0x40, std::nullopt},
        OverlapCase{"EmptyFunctionRange", kArmList, 0x8000, 0x8000, std::nullopt},
        OverlapCase{"EmptyAndReversedSpansCountNothing", {{0x20, 0x20}, {0x30, 0x10}, {0x18, 0x1c}}, 0x0, 0x40, 2},
        OverlapCase{"NoSpans", {}, 0x0, 0x40, std::nullopt},
        // A span reaching the top of the address space is still measured.
        OverlapCase{"TopOfAddressSpace", {{0x0, 0x10}, {0xfffffff0, 0x100000000}}, 0x0, 0x100000000, 0}),
    [](const ::testing::TestParamInfo<OverlapCase>& p) { return p.param.name; });

struct CfaCase {
    const char* name;
    std::vector<CfaRow> rows;
    std::optional<FrameBase> expected;
};

void PrintTo(const CfaCase& c, std::ostream* os) { *os << c.name; }

class FrameBaseFromCfa : public ::testing::TestWithParam<CfaCase> {};

TEST_P(FrameBaseFromCfa, TakesTheLongestRowsRule) {
    const CfaCase& c = GetParam();
    EXPECT_EQ(frameBaseFromCfaRows(c.rows, 0x8000, 0x808c), c.expected);
}

CfaRow rule(std::uint64_t low, std::uint64_t high, std::int64_t reg, std::int64_t offset) {
    return CfaRow{{low, high}, true, reg, offset};
}

INSTANTIATE_TEST_SUITE_P(
    FrameBase, FrameBaseFromCfa,
    ::testing::Values(
        // GCC's Thumb -O0 FDE: sp, sp+8, sp+24 while the frame is built, then
        // r7+24 for the body.
        CfaCase{"ThumbBody",
                {rule(0x8000, 0x8002, 13, 0), rule(0x8002, 0x8004, 13, 8), rule(0x8004, 0x8006, 13, 24),
                 rule(0x8006, 0x808c, 7, 24)},
                FrameBase{7, 24}},
        CfaCase{"NegativeOffset", {rule(0x8000, 0x808c, 11, -8)}, FrameBase{11, -8}},
        CfaCase{"ChosenRuleIsAnExpression",
                {rule(0x8000, 0x8004, 13, 0), CfaRow{{0x8004, 0x808c}, false, 0, 0}},
                std::nullopt},
        CfaCase{"RegisterBeyond31", {rule(0x8000, 0x808c, 32, 4)}, std::nullopt},
        CfaCase{"NoRowInsideTheFunction", {rule(0x9000, 0x9010, 13, 0)}, std::nullopt},
        CfaCase{"NoRows", {}, std::nullopt}),
    [](const ::testing::TestParamInfo<CfaCase>& p) { return p.param.name; });

}  // namespace
}  // namespace kestab::dw

namespace kestab::dw {
namespace {

struct RemovedCase {
    const char* name;
    CodeRange range;
    bool sectionAtZero;
    bool removed;
};

void PrintTo(const RemovedCase& c, std::ostream* os) { *os << c.name; }

class RemovedFunction : public ::testing::TestWithParam<RemovedCase> {};

TEST_P(RemovedFunction, IsToldByItsAddresses) {
    const RemovedCase& c = GetParam();
    EXPECT_EQ(isRemovedFunction(c.range, c.sectionAtZero), c.removed);
}

INSTANTIATE_TEST_SUITE_P(
    FrameBase, RemovedFunction,
    ::testing::Values(
        // DWARF 2/3 after --gc-sections: low 0, high 0.
        RemovedCase{"GcSectionsDwarf2", {true, true, false, 0, 0}, false, true},
        RemovedCase{"GcSectionsDwarf2ImageFromZero", {true, true, false, 0, 0}, true, true},
        RemovedCase{"EndBelowStart", {true, true, false, 0x8010, 0x8000}, false, true},
        RemovedCase{"RealFunction", {true, true, false, 0x8000, 0x8040}, false, false},
        // DWARF 4/5: high_pc is a length, so removed code ends above 0.
        RemovedCase{"GcSectionsDwarf4", {true, true, true, 0, 0x18}, false, true},
        RemovedCase{"VectorTableAtZero", {true, true, true, 0, 0x40}, true, false},
        // A DWARF 2/3 function at 0 with an end above it keeps its row.
        RemovedCase{"AddressEndAboveZero", {true, true, false, 0, 0x2}, false, false},
        RemovedCase{"OnlyLowPcZero", {true, false, false, 0, 0}, false, true},
        RemovedCase{"Declaration", {false, false, false, 0, 0}, false, false}),
    [](const ::testing::TestParamInfo<RemovedCase>& p) { return p.param.name; });

}  // namespace
}  // namespace kestab::dw

namespace kestab::dw {
namespace {

// The rows libdwarf's frame interface gives for the Thumb image's
// accumulate() at 0x8000..0x808c, as readelf --debug-dump=frames-interp
// shows them: each row ends where the next begins, the last at the FDE's end.
TEST(FdeListOnImage, GivesEachCfaRowWithItsRange) {
    test::FixtureReader image("gcc/frame_thumb.tmp");
    ASSERT_TRUE(image.opened()) << image.said();
    FdeList fdes(image.reader().handles().dbg.get());
    const std::vector<CfaRow> rows = fdes.cfaRowsAt(0x8040);
    ASSERT_EQ(rows.size(), 4u);
    const std::uint64_t starts[] = {0x8000, 0x8002, 0x8004, 0x8006};
    const std::uint64_t ends[] = {0x8002, 0x8004, 0x8006, 0x808c};
    const std::int64_t regs[] = {13, 13, 13, 7};
    const std::int64_t offsets[] = {0, 8, 24, 24};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].span.low, starts[i]) << i;
        EXPECT_EQ(rows[i].span.high, ends[i]) << i;
        EXPECT_TRUE(rows[i].registerPlusOffset) << i;
        EXPECT_EQ(rows[i].reg, regs[i]) << i;
        EXPECT_EQ(rows[i].offset, offsets[i]) << i;
    }
    EXPECT_TRUE(fdes.cfaRowsAt(0x7000).empty());
}

}  // namespace
}  // namespace kestab::dw
