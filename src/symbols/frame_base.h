// A function's frame base as a register and an offset, so that a local at
// DW_OP_fbreg N can be shown as DW_OP_breg<r> M with M = offset + N.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "dwarf/die.h"
#include "dwarf/frame_access.h"

namespace kestab::dw {

struct FrameBase {
    std::uint8_t reg = 0;     // DWARF register number, 0 to 31
    std::int32_t offset = 0;  // added to a DW_OP_fbreg operand

    bool operator==(const FrameBase&) const = default;
};

// The span that shares the most addresses with [low, high); of equal ones
// the earliest. None when no span shares any address with it.
std::optional<std::size_t> largestOverlap(std::span<const AddressSpan> spans, std::uint64_t low,
                                          std::uint64_t high);

// The frame base that the CFA rows of a function give: the row that covers
// the largest part of [low, high) (ties: the earliest), when its rule is
// register + offset with a register 0 to 31.
std::optional<FrameBase> frameBaseFromCfaRows(std::span<const CfaRow> rows, std::uint64_t low,
                                              std::uint64_t high);

// Resolves DW_AT_frame_base attributes. One per run: the FDE list is read
// the first time a frame base needs it.
class FrameBaseReader {
public:
    explicit FrameBaseReader(Dwarf_Debug dbg) : fdes_(dbg) {}

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
    FdeList fdes_;
};

}  // namespace kestab::dw
