#include "symbols/frame_base.h"

#include <algorithm>
#include <vector>

namespace kestab::dw {

namespace {

// (r, K) of DW_OP_breg<r> K and (r, 0) of DW_OP_reg<r>; none for any other
// operation.
std::optional<FrameBase> registerRule(const Operation& op) {
    if (op.atom >= DW_OP_breg0 && op.atom <= DW_OP_breg31)
        return FrameBase{static_cast<std::uint8_t>(op.atom - DW_OP_breg0),
                         static_cast<std::int32_t>(static_cast<std::uint32_t>(op.operand))};
    if (op.atom >= DW_OP_reg0 && op.atom <= DW_OP_reg31)
        return FrameBase{static_cast<std::uint8_t>(op.atom - DW_OP_reg0), 0};
    return std::nullopt;
}

}  // namespace

std::optional<std::size_t> largestOverlap(std::span<const AddressSpan> spans, std::uint64_t low,
                                          std::uint64_t high) {
    std::optional<std::size_t> best;
    std::uint64_t bestSize = 0;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const std::uint64_t from = std::max(spans[i].low, low);
        const std::uint64_t to = std::min(spans[i].high, high);
        const std::uint64_t size = to > from ? to - from : 0;
        if (size > bestSize) {
            best = i;
            bestSize = size;
        }
    }
    return best;
}

std::optional<FrameBase> frameBaseFromCfaRows(std::span<const CfaRow> rows, std::uint64_t low,
                                              std::uint64_t high) {
    std::vector<AddressSpan> spans;
    spans.reserve(rows.size());
    for (const CfaRow& row : rows) spans.push_back(row.span);
    const auto chosen = largestOverlap(spans, low, high);
    if (!chosen) return std::nullopt;
    const CfaRow& row = rows[*chosen];
    if (!row.registerPlusOffset || row.reg < 0 || row.reg > 31) return std::nullopt;
    return FrameBase{static_cast<std::uint8_t>(row.reg),
                     static_cast<std::int32_t>(static_cast<std::uint32_t>(row.offset))};
}

std::optional<FrameBase> FrameBaseReader::resolve(const Attribute& frameBase, std::uint64_t low,
                                                  std::uint64_t high) {
    const std::optional<LocationEntries> read = readLocationEntries(frameBase);
    if (!read) return std::nullopt;
    const std::vector<LocEntry>& entries = read->entries;

    if (read->kind == LocationEntries::Kind::expression) {
        if (entries.size() != 1 || !entries[0].single) return std::nullopt;
        const Operation& op = *entries[0].single;
        if (op.atom == DW_OP_call_frame_cfa) return frameBaseFromCfaRows(fdes_.cfaRowsAt(low), low, high);
        return registerRule(op);
    }
    if (read->kind != LocationEntries::Kind::list) return std::nullopt;
    // Only the entries with a register rule take part in the choice.
    std::vector<AddressSpan> spans;
    std::vector<FrameBase> rules;
    for (const LocEntry& entry : entries) {
        if (!entry.single) continue;
        if (const auto rule = registerRule(*entry.single)) {
            spans.push_back(entry.span);
            rules.push_back(*rule);
        }
    }
    const auto chosen = largestOverlap(spans, low, high);
    if (!chosen) return std::nullopt;
    return rules[*chosen];
}

}  // namespace kestab::dw
