// A function's frame base as a register and an offset, so that a local at
// DW_OP_fbreg N can be shown as DW_OP_breg<r> M with M = offset + N.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dwarf/die.h"
#include "dwarf/dwarf_access.h"

namespace kestab::dw {

struct FrameBase {
    std::uint8_t reg = 0;     // DWARF register number, 0 to 31
    std::int32_t offset = 0;  // added to a DW_OP_fbreg operand

    bool operator==(const FrameBase&) const = default;
};

// An address range [low, high).
struct AddressSpan {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
};

// The span that shares the most addresses with [low, high); of equal ones
// the earliest. None when no span shares any address with it.
std::optional<std::size_t> largestOverlap(std::span<const AddressSpan> spans, std::uint64_t low,
                                          std::uint64_t high);

// One CFA rule of a .debug_frame row, as the frame interface gives it.
struct CfaRow {
    AddressSpan span;
    bool registerPlusOffset = false;  // false for a rule given as an expression
    std::int64_t reg = 0;
    std::int64_t offset = 0;
};

// The frame base that the CFA rows of a function give: the row that covers
// the largest part of [low, high) (ties: the earliest), when its rule is
// register + offset with a register 0 to 31.
std::optional<FrameBase> frameBaseFromCfaRows(std::span<const CfaRow> rows, std::uint64_t low,
                                              std::uint64_t high);

// The .debug_frame FDE list, read the first time it is asked for, released
// with the object.
class FdeList {
public:
    explicit FdeList(Dwarf_Debug dbg) : dbg_(dbg) {}

    // The CFA rows of the FDE that holds `pc`, each cut to the FDE's range;
    // empty when there is no .debug_frame or no FDE there.
    std::vector<CfaRow> cfaRowsAt(std::uint64_t pc);

private:
    bool load();
    bool fdeRange(Dwarf_Fde fde, AddressSpan& range);
    std::optional<CfaRow> cfaRowAt(Dwarf_Fde fde, std::uint64_t at, std::uint64_t end);

    Dwarf_Debug dbg_;
    bool tried_ = false;
    FdeListHandle lists_;
};

// Resolves DW_AT_frame_base attributes. One per run: the FDE list is read
// the first time a frame base needs it.
class FrameBaseReader {
public:
    explicit FrameBaseReader(Dwarf_Debug dbg) : dbg_(dbg), fdes_(dbg) {}

    // The frame base of a function whose code is [low, high):
    // - an expression of one operation: DW_OP_breg<r> K gives (r, K),
    //   DW_OP_reg<r> gives (r, 0), DW_OP_call_frame_cfa the CFA rule of the
    //   function's .debug_frame rows (frameBaseFromCfaRows);
    // - a location list: of its entries whose operation is DW_OP_breg<r> or
    //   DW_OP_reg<r>, the one covering the largest part of [low, high)
    //   (ties: the earliest), read as above.
    // None for anything else.
    std::optional<FrameBase> resolve(const Attribute& frameBase, std::uint64_t low, std::uint64_t high);

private:
    Dwarf_Debug dbg_;
    FdeList fdes_;
};

}  // namespace kestab::dw
