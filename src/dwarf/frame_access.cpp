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
// location list head, and the bytes of an FDE, of its instructions and of
// its CIE's initial instructions (void pointers in the 2021 releases, byte
// pointers in 0.x/2.x).
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

// The register numbers libdwarf's frame rules take, 0 to the count less
// one; an instruction naming a higher one is an error there. Read by
// setting it and setting it back.
std::uint64_t frameRegisterCount(Dwarf_Debug dbg) {
    const Dwarf_Half count = dwarf_set_frame_rule_table_size(dbg, 1);
    dwarf_set_frame_rule_table_size(dbg, count);
    return count;
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
        Dwarf_Half addressSize = 0;
        if (ask(dbg_, [&](Dwarf_Error* err) { return dwarf_get_address_size(dbg_, &addressSize, err); }).ok())
            addressSize_ = addressSize;
        bigEndian_ = imageBigEndian(dbg_);
        registerCount_ = frameRegisterCount(dbg_);
    }
    return lists_ && lists_.get().fdes != nullptr;
}

std::vector<CfaRow> FdeList::cfaRowsAt(std::uint64_t pc) {
    if (!load()) return {};
    Dwarf_Fde fde = nullptr;
    Dwarf_Addr atLow = 0;
    Dwarf_Addr atHigh = 0;
    const Answer found = ask(
        dbg_, [&](Dwarf_Error* err) { return dwarf_get_fde_at_pc(lists_.get().fdes, pc, &fde, &atLow, &atHigh, err); });
    AddressSpan range;
    CfaProgram program;
    if (!found.ok() || !fdeRange(fde, range) || !readProgram(fde, program)) return {};
    return decodeCfaRows(program, range, kMaxCfaRows);
}

// The FDE's instructions and its CIE's, with what decoding them needs.
bool FdeList::readProgram(Dwarf_Fde fde, CfaProgram& program) {
    Dwarf_Cie cie = nullptr;
    if (!ask(dbg_, [&](Dwarf_Error* err) { return dwarf_get_cie_of_fde(fde, &cie, err); }).ok()) return false;
    constexpr auto kCieInfo = &dwarf_get_cie_info_b;
    Dwarf_Unsigned cieLength = 0;
    Dwarf_Small version = 0;
    char* augmentation = nullptr;
    Dwarf_Unsigned codeAlignment = 0;
    Dwarf_Signed dataAlignment = 0;
    Dwarf_Half returnAddress = 0;
    OutParam<kCieInfo, 7> initial{};
    Dwarf_Unsigned initialLength = 0;
    Dwarf_Half offsetSize = 0;
    if (!ask(dbg_, [&](Dwarf_Error* err) {
             return kCieInfo(cie, &cieLength, &version, &augmentation, &codeAlignment, &dataAlignment, &returnAddress,
                             &initial, &initialLength, &offsetSize, err);
         }).ok())
        return false;
    OutParam<&dwarf_get_fde_instr_bytes, 1> instructions{};
    Dwarf_Unsigned length = 0;
    if (!ask(dbg_, [&](Dwarf_Error* err) { return dwarf_get_fde_instr_bytes(fde, &instructions, &length, err); }).ok())
        return false;
    program.cieInstructions = {static_cast<const unsigned char*>(initial), initial ? initialLength : 0};
    program.fdeInstructions = {static_cast<const unsigned char*>(instructions), instructions ? length : 0};
    program.codeAlignment = codeAlignment;
    program.dataAlignment = dataAlignment;
    program.addressSize = addressSize_;
    program.bigEndian = bigEndian_;
    program.initialRegister = DW_FRAME_REG_INITIAL_VALUE;
    program.registerCount = registerCount_;
    return true;
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
