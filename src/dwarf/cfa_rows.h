// The CFA rows of one .debug_frame FDE, decoded in one pass over the CIE's
// initial instructions and the FDE's instructions (bounds-checked), so the
// cost grows with the instructions, not with their square.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestab::dw {

// An address range [low, high).
struct AddressSpan {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
};

// One CFA rule of a .debug_frame row, as the frame interface gives it.
struct CfaRow {
    AddressSpan span;
    bool registerPlusOffset = false;  // false for a rule given as an expression
    std::int64_t reg = 0;
    std::int64_t offset = 0;
};

// What the decoding needs of an FDE and its CIE.
struct CfaProgram {
    std::span<const unsigned char> cieInstructions;  // the CIE's initial instructions
    std::span<const unsigned char> fdeInstructions;
    std::uint64_t codeAlignment = 1;
    std::int64_t dataAlignment = 1;
    std::uint64_t addressSize = 4;  // of DW_CFA_set_loc
    bool bigEndian = false;
    std::int64_t initialRegister = 0;  // the CFA register before any rule sets one
    // Register numbers from this one up are refused, as libdwarf refuses
    // them (its frame rule table size).
    std::uint64_t registerCount = UINT64_MAX;
};

// The rows of the FDE whose code is `range`, as libdwarf's row search gives
// them asked row by row from range.low (dwarf_get_fde_info_for_cfa_reg3_b):
// each row from where the one before ended to the next location an advance
// or DW_CFA_set_loc moves past it (locations wrap around), cut at
// range.high, the last ending there. The rule: register + offset by
// DW_CFA_def_cfa, _sf, _offset, _offset_sf and _register, an expression by
// DW_CFA_def_cfa_expression, saved and taken back by DW_CFA_remember_state
// and _restore_state. An instruction that cannot be decoded (unknown,
// running past its bytes, DW_CFA_set_loc going back, an offset that does
// not fit, a register number from registerCount up) drops the row it is in
// and ends the rows; one in the CIE's instructions leaves none. At most
// `maxRows` rows.
std::vector<CfaRow> decodeCfaRows(const CfaProgram& program, AddressSpan range, std::size_t maxRows);

}  // namespace kestab::dw
