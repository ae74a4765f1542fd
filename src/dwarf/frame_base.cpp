#include "dwarf/frame_base.h"

#include <algorithm>
#include <tuple>
#include <type_traits>
#include <vector>

#include "dwarf/attribute_decoders.h"

namespace kestab::dw {

namespace {

// More rows than any real function has: ends the row walk of a damaged FDE.
constexpr std::size_t kMaxCfaRows = 100000;

// The type an out-parameter of a libdwarf call points to, read from the
// call's declaration. Some differ between libdwarf releases: the kind of a
// location list head, the register and offset of a CFA row (signed in the
// 2021 releases, unsigned in 0.x/2.x), the expression of a CFA row and the
// bytes of an FDE.
template <std::size_t N, class R, class... A>
std::remove_pointer_t<std::tuple_element_t<N, std::tuple<A...>>> pointeeOf(R (*)(A...));
template <auto Call, std::size_t N>
using OutParam = decltype(pointeeOf<N>(Call));

// One operation of a location description.
struct Operation {
    Dwarf_Small atom = 0;
    Dwarf_Unsigned operand = 0;
};

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

// One entry of a location list or expression: its range and, when it is a
// single operation, that operation.
struct LocEntry {
    AddressSpan span;
    std::optional<Operation> single;
};

std::vector<LocEntry> readLocEntries(Dwarf_Debug dbg, Dwarf_Loc_Head_c head, Dwarf_Unsigned count) {
    std::vector<LocEntry> entries;
    for (Dwarf_Unsigned i = 0; i < count; ++i) {
        LocationEntry entry;
        if (!readLocationEntry(dbg, head, i, entry).ok()) break;
        if (entry.addressUnavailable) continue;
        LocEntry out{AddressSpan{entry.low, entry.high}, std::nullopt};
        if (entry.operationCount == 1) {
            Operation op;
            Dwarf_Unsigned operand2 = 0;
            Dwarf_Unsigned operand3 = 0;
            Dwarf_Unsigned branchOffset = 0;
            const Answer value = ask(dbg, [&](Dwarf_Error* err) {
                return dwarf_get_location_op_value_c(entry.description, 0, &op.atom, &op.operand, &operand2, &operand3,
                                                     &branchOffset, err);
            });
            if (value.ok()) out.single = op;
        }
        entries.push_back(out);
    }
    return entries;
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

bool FdeList::load() {
    if (!tried_) {
        tried_ = true;
        FdeLists lists{dbg_};
        const Answer answer = ask(dbg_, [&](Dwarf_Error* err) {
            return dwarf_get_fde_list(dbg_, &lists.cies, &lists.cieCount, &lists.fdes, &lists.fdeCount, err);
        });
        if (answer.ok()) lists_ = FdeListHandle(lists);
    }
    return lists_ && lists_.get().fdes != nullptr;
}

std::vector<CfaRow> FdeList::cfaRowsAt(std::uint64_t pc) {
    std::vector<CfaRow> rows;
    if (!load()) return rows;
    Dwarf_Fde fde = nullptr;
    Dwarf_Addr atLow = 0;
    Dwarf_Addr atHigh = 0;
    const Answer found = ask(
        dbg_, [&](Dwarf_Error* err) { return dwarf_get_fde_at_pc(lists_.get().fdes, pc, &fde, &atLow, &atHigh, err); });
    AddressSpan range;
    if (!found.ok() || !fdeRange(fde, range)) return rows;
    for (std::uint64_t at = range.low; at < range.high && rows.size() < kMaxCfaRows;) {
        const std::optional<CfaRow> row = cfaRowAt(fde, at, range.high);
        if (!row) break;
        rows.push_back(*row);
        at = row->span.high;
    }
    return rows;
}

// The FDE's own range, [low, low + length): the high address that
// dwarf_get_fde_at_pc gives is the last byte, not the end.
bool FdeList::fdeRange(Dwarf_Fde fde, AddressSpan& range) {
    Dwarf_Addr low = 0;
    Dwarf_Unsigned length = 0;
    OutParam<&dwarf_get_fde_range, 3> bytes{};
    Dwarf_Unsigned byteLength = 0;
    Dwarf_Off cieOffset = 0;
    Dwarf_Signed cieIndex = 0;
    Dwarf_Off fdeOffset = 0;
    const Answer answer = ask(dbg_, [&](Dwarf_Error* err) {
        return dwarf_get_fde_range(fde, &low, &length, &bytes, &byteLength, &cieOffset, &cieIndex, &fdeOffset, err);
    });
    range = AddressSpan{low, low + length};
    return answer.ok();
}

// The CFA row at `at`, ending where the next row starts or at `end`; none
// when it cannot be read or makes no progress (a damaged FDE).
std::optional<CfaRow> FdeList::cfaRowAt(Dwarf_Fde fde, std::uint64_t at, std::uint64_t end) {
    constexpr auto kCall = &dwarf_get_fde_info_for_cfa_reg3_b;
    Dwarf_Small valueType = 0;
    OutParam<kCall, 3> offsetRelevant{};
    OutParam<kCall, 4> reg{};
    OutParam<kCall, 5> offset{};
    OutParam<kCall, 6> block{};
    Dwarf_Addr rowPc = 0;
    Dwarf_Bool more = false;
    Dwarf_Addr next = 0;
    const Answer answer = ask(dbg_, [&](Dwarf_Error* err) {
        return kCall(fde, at, &valueType, &offsetRelevant, &reg, &offset, &block, &rowPc, &more, &next, err);
    });
    if (!answer.ok()) return std::nullopt;
    const std::uint64_t rowEnd = more ? std::min<std::uint64_t>(next, end) : end;
    if (rowEnd <= at) return std::nullopt;
    CfaRow row;
    row.span = AddressSpan{at, rowEnd};
    row.registerPlusOffset = valueType == DW_EXPR_OFFSET && offsetRelevant != 0;
    row.reg = static_cast<std::int64_t>(reg);
    row.offset = static_cast<std::int64_t>(offset);
    return row;
}

std::optional<FrameBase> FrameBaseReader::resolve(const Attribute& frameBase, std::uint64_t low,
                                                  std::uint64_t high) {
    Dwarf_Loc_Head_c rawHead = nullptr;
    Dwarf_Unsigned count = 0;
    const Answer answer =
        ask(dbg_, [&](Dwarf_Error* err) { return dwarf_get_loclist_c(frameBase.get(), &rawHead, &count, err); });
    const LocHeadOwner head(dbg_, answer.ok() ? rawHead : nullptr);
    if (!answer.ok()) return std::nullopt;
    OutParam<&dwarf_get_loclist_head_kind, 1> kind = DW_LKIND_unknown;
    if (!ask(dbg_, [&](Dwarf_Error* err) { return dwarf_get_loclist_head_kind(head.get(), &kind, err); }).ok())
        return std::nullopt;
    const std::vector<LocEntry> entries = readLocEntries(dbg_, head.get(), count);

    if (kind == DW_LKIND_expression) {
        if (entries.size() != 1 || !entries[0].single) return std::nullopt;
        const Operation& op = *entries[0].single;
        if (op.atom == DW_OP_call_frame_cfa) return frameBaseFromCfaRows(fdes_.cfaRowsAt(low), low, high);
        return registerRule(op);
    }
    if (kind != DW_LKIND_loclist && kind != DW_LKIND_loclists) return std::nullopt;
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
