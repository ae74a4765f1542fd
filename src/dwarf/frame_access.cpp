#include "dwarf/frame_access.h"

#include <algorithm>
#include <tuple>
#include <type_traits>

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

std::optional<LocationEntries> readLocationEntries(const Attribute& location) {
    Dwarf_Debug dbg = location.debug();
    Dwarf_Loc_Head_c rawHead = nullptr;
    Dwarf_Unsigned count = 0;
    const Answer answer =
        ask(dbg, [&](Dwarf_Error* err) { return dwarf_get_loclist_c(location.get(), &rawHead, &count, err); });
    const LocHeadOwner head(dbg, answer.ok() ? rawHead : nullptr);
    if (!answer.ok()) return std::nullopt;
    OutParam<&dwarf_get_loclist_head_kind, 1> kind = DW_LKIND_unknown;
    if (!ask(dbg, [&](Dwarf_Error* err) { return dwarf_get_loclist_head_kind(head.get(), &kind, err); }).ok())
        return std::nullopt;
    LocationEntries read;
    read.entries = readLocEntries(dbg, head.get(), count);
    if (kind == DW_LKIND_expression) {
        read.kind = LocationEntries::Kind::expression;
    } else if (kind == DW_LKIND_loclist || kind == DW_LKIND_loclists) {
        read.kind = LocationEntries::Kind::list;
    }
    return read;
}

}  // namespace kestab::dw
