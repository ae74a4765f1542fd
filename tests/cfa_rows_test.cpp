// The CFA rows of an FDE decoded from its instructions in one pass: rows as
// libdwarf's row search gives them, and where damaged instructions end them.
// The path through libdwarf is covered by FdeListOnImage and the frame_arm
// and frame_thumb end-to-end cases.
#include "dwarf/cfa_rows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestab::dw {
namespace {

using Bytes = std::vector<unsigned char>;

// "[low,high) r<reg>+<offset>" per row, "-" for a rule that is no register
// + offset.
std::string show(const std::vector<CfaRow>& rows) {
    std::string out;
    for (const CfaRow& row : rows) {
        char text[96];
        std::snprintf(text, sizeof text, "[%llx,%llx) ", static_cast<unsigned long long>(row.span.low),
                      static_cast<unsigned long long>(row.span.high));
        out += text;
        out += row.registerPlusOffset ? "r" + std::to_string(row.reg) + "+" + std::to_string(row.offset) : "-";
        out += " ";
    }
    return out;
}

struct RowsCase {
    const char* name;
    Bytes cie;
    Bytes fde;
    std::string expected;
    std::size_t maxRows = 100;
};

TEST(CfaRows, DecodedInOnePass) {
    const Bytes defCfaSp{0x0c, 13, 0};  // DW_CFA_def_cfa r13 0
    const RowsCase cases[] = {
        {"a row per advance, the last to the end",
         defCfaSp,
         {0x41, 0x0e, 8, 0x41, 0x0d, 7},
         "[8000,8002) r13+0 [8002,8004) r13+8 [8004,8020) r7+8 "},
        {"an advance of nothing starts no row",
         defCfaSp,
         {0x40, 0x0e, 8, 0x42, 0x0e, 16},
         "[8000,8004) r13+8 [8004,8020) r13+16 "},
        {"the rule saved and taken back",
         defCfaSp,
         {0x0a, 0x41, 0x0e, 8, 0x41, 0x0b},
         "[8000,8002) r13+0 [8002,8004) r13+8 [8004,8020) r13+0 "},
        {"advance_loc1, _loc2 and set_loc",
         defCfaSp,
         {0x02, 2, 0x0e, 4, 0x03, 2, 0, 0x0e, 8, 0x01, 0x10, 0x80, 0, 0},
         "[8000,8004) r13+0 [8004,8008) r13+4 [8008,8010) r13+8 [8010,8020) r13+8 "},
        {"an advance past the end cuts the row there",
         defCfaSp,
         {0x41, 0x0e, 8, 0x7f, 0x0e, 16},
         "[8000,8002) r13+0 [8002,8020) r13+8 "},
        {"factored offsets",
         defCfaSp,
         {0x41, 0x13, 0x7e, 0x41, 0x12, 11, 0x7f},
         "[8000,8002) r13+0 [8002,8004) r13+8 [8004,8020) r11+4 "},
        {"an expression rule, then a register alone keeps it",
         defCfaSp,
         {0x41, 0x0f, 1, 0x9c, 0x41, 0x0d, 7},
         "[8000,8002) r13+0 [8002,8004) - [8004,8020) - "},
        {"register rules are read past",
         defCfaSp,
         {0x8e, 1, 0x05, 4, 2, 0x10, 4, 1, 0x50, 0xc4, 0x2e, 8, 0x41, 0x0e, 4},
         "[8000,8002) r13+0 [8002,8020) r13+4 "},
        {"no rule before one is given, then an offset to the initial register",
         {},
         {0x41, 0x0e, 8},
         "[8000,8002) - [8002,8020) r1035+8 "},
        {"an unknown instruction drops its row and ends the rows",
         defCfaSp,
         {0x41, 0x0e, 8, 0x3e, 0x41},
         "[8000,8002) r13+0 "},
        {"an operand cut by the end drops its row",
         defCfaSp,
         {0x41, 0x0e, 8, 0x41, 0x03, 1},
         "[8000,8002) r13+0 [8002,8004) r13+8 "},
        {"a location going back", defCfaSp, {0x41, 0x01, 0x00, 0x70, 0, 0}, "[8000,8002) r13+0 "},
        {"state taken back that was never saved", defCfaSp, {0x41, 0x0b}, "[8000,8002) r13+0 "},
        {"a register number past the table", defCfaSp, {0x41, 0x0c, 0xc8, 0x01, 0}, "[8000,8002) r13+0 "},
        {"damaged CIE instructions leave no rows", {0x0c, 13}, {0x41, 0x0e, 8}, ""},
        {"at most maxRows rows", defCfaSp, {0x41, 0x41, 0x41}, "[8000,8002) r13+0 [8002,8004) r13+0 ", 2},
    };
    for (const RowsCase& c : cases) {
        SCOPED_TRACE(c.name);
        CfaProgram program;
        program.cieInstructions = c.cie;
        program.fdeInstructions = c.fde;
        program.codeAlignment = 2;
        program.dataAlignment = -4;
        program.initialRegister = 1035;
        program.registerCount = 191;
        EXPECT_EQ(show(decodeCfaRows(program, AddressSpan{0x8000, 0x8020}, c.maxRows)), c.expected);
    }
}

}  // namespace
}  // namespace kestab::dw
