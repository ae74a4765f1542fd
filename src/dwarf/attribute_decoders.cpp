#include "dwarf/attribute_decoders.h"

#include <optional>

namespace kestab::dw {

namespace {

// The unit-local reference forms a type DIE may use for DW_AT_type.
bool isReferenceForm(Dwarf_Half form) {
    switch (form) {
        case DW_FORM_ref1:
        case DW_FORM_ref2:
        case DW_FORM_ref4:
        case DW_FORM_ref8:
        case DW_FORM_ref_udata:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool readExternalFlag(const Attribute& attr) {
    const std::optional<Dwarf_Half> form = attr.form();
    if (form != DW_FORM_flag && form != DW_FORM_flag_present) return false;
    bool flag = false;
    return attr.flag(flag, onError("Cannot get formflag (%d)....", kCode)).ok() && flag;
}

std::int32_t referencedTypeSize(const Attribute& attr, const TypeTable& types) {
    const std::optional<Dwarf_Half> form = attr.form();
    if (!form || !isReferenceForm(*form)) return -1;
    std::uint32_t offset = 0;
    if (!attr.reference(offset, unlessOk("ref formwith no ref! (%d) err=(%ld)")).ok()) return -1;
    const auto row = types.findRow(offset);
    if (!row) return -1;
    return static_cast<std::int32_t>(types.row(*row).byteSize);
}

std::int32_t readSignedConstant(const Attribute& attr) {
    const std::optional<Dwarf_Half> form = attr.form();
    if (form != DW_FORM_data1 && form != DW_FORM_data2 && form != DW_FORM_data4 && form != DW_FORM_data8 &&
        form != DW_FORM_implicit_const)
        return -1;
    // Bounds of C arrays are never negative: the data forms are read
    // unsigned, so a bound of 199 in one byte stays 199.
    Dwarf_Unsigned value = 0;
    if (!attr.unsignedConstant(value, onError("Cannot get formsdata.. (%d) err={%ld}")).ok()) return -1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

Answer readHighPc(const Die& die, CodeEnd& end, const Report& report) {
    Dwarf_Addr value = 0;
    Dwarf_Half form = 0;
    Dwarf_Form_Class formClass = DW_FORM_CLASS_UNKNOWN;
    Answer answer = ask(die.debug(), report, [&](Dwarf_Error* err) {
        return dwarf_highpc_b(die.get(), &value, &form, &formClass, err);
    });
    if (!answer.ok()) return answer;
    const bool givenAsLength = formClass != DW_FORM_CLASS_ADDRESS;
    if (givenAsLength) {
        Dwarf_Addr low = 0;
        answer = ask(die.debug(), report, [&](Dwarf_Error* err) { return dwarf_lowpc(die.get(), &low, err); });
        if (!answer.ok()) return answer;
        value += low;
    }
    end = CodeEnd{value, givenAsLength};
    return answer;
}

Answer readLocationEntry(Dwarf_Debug dbg, Dwarf_Loc_Head_c head, Dwarf_Unsigned index, LocationEntry& entry) {
    Dwarf_Unsigned rawLowPc = 0;
    Dwarf_Unsigned rawHighPc = 0;
    Dwarf_Small source = 0;
    Dwarf_Unsigned expressionOffset = 0;
    Dwarf_Unsigned descriptionOffset = 0;
    return ask(dbg, [&](Dwarf_Error* err) {
        return dwarf_get_locdesc_entry_d(head, index, &entry.kind, &rawLowPc, &rawHighPc, &entry.addressUnavailable,
                                         &entry.low, &entry.high, &entry.operationCount, &entry.description, &source,
                                         &expressionOffset, &descriptionOffset, err);
    });
}

namespace {

// The number of entries of a location list that give a location, and in
// `first` the index of the first of them. A .debug_loclists list (DWARF 5)
// also has base-address entries and its end-of-list entry among the
// entries libdwarf counts; they give none.
Dwarf_Unsigned countLocationEntries(Dwarf_Debug dbg, Dwarf_Loc_Head_c head, Dwarf_Unsigned count,
                                    Dwarf_Unsigned& first) {
    unsigned int listKind = DW_LKIND_unknown;
    ask(dbg, [&](Dwarf_Error* err) { return dwarf_get_loclist_head_kind(head, &listKind, err); });
    Dwarf_Unsigned located = 0;
    for (Dwarf_Unsigned i = 0; i < count; ++i) {
        LocationEntry entry;
        const Answer answer = readLocationEntry(dbg, head, i, entry);
        if (answer.ok() && listKind == DW_LKIND_loclists &&
            (entry.kind == DW_LLE_end_of_list || entry.kind == DW_LLE_base_address ||
             entry.kind == DW_LLE_base_addressx))
            continue;
        if (located++ == 0) first = i;
    }
    return located;
}

// The first operation of a location description, if it is one of the three
// kinds the MAP file shows.
bool decodeFirstOperation(Dwarf_Debug dbg, Dwarf_Locdesc_c description, Location& location) {
    Dwarf_Small atom = 0;
    Dwarf_Unsigned operand1 = 0;
    Dwarf_Unsigned operand2 = 0;
    Dwarf_Unsigned operand3 = 0;
    Dwarf_Unsigned branchOffset = 0;
    const Answer operation = ask(dbg, [&](Dwarf_Error* err) {
        return dwarf_get_location_op_value_c(description, 0, &atom, &operand1, &operand2, &operand3,
                                             &branchOffset, err);
    });
    if (!operation.ok()) return false;

    if (atom >= DW_OP_reg0 && atom <= DW_OP_reg31) {
        location.registerByte = static_cast<std::uint8_t>(atom - DW_OP_reg0);
        location.inRegister = true;
        return true;
    }
    if (atom >= DW_OP_breg0 && atom <= DW_OP_breg31) {
        location.operand = static_cast<std::uint32_t>(operand1);
        location.registerByte = static_cast<std::uint8_t>(atom - DW_OP_breg0);
        return true;
    }
    if (atom == DW_OP_fbreg) {
        location.frameRelative = true;
        location.frameOffset = static_cast<std::int32_t>(static_cast<std::uint32_t>(operand1));
        return false;
    }
    if (atom == DW_OP_addr) {
        location.operand = static_cast<std::uint32_t>(operand1);
        location.registerByte = kAddressRegisterByte;
        return true;
    }
    return false;
}

}  // namespace

bool decodeLocation(const Attribute& attr, Location& location) {
    location = Location{};
    const Dwarf_Debug dbg = attr.debug();
    Dwarf_Loc_Head_c rawHead = nullptr;
    Dwarf_Unsigned count = 0;
    const Answer answer = ask(dbg, onError("Function dwarf_loclist() failed(%d)", kCode), [&](Dwarf_Error* err) {
        return dwarf_get_loclist_c(attr.get(), &rawHead, &count, err);
    });
    const LocHeadOwner head(dbg, answer.ok() ? rawHead : nullptr);
    if (!answer.ok()) return false;
    Dwarf_Unsigned index = 0;
    if (countLocationEntries(dbg, head.get(), count, index) != 1) return false;

    LocationEntry entry;
    if (!readLocationEntry(dbg, head.get(), index, entry).ok() || entry.operationCount == 0) return false;
    return decodeFirstOperation(dbg, entry.description, location);
}

}  // namespace kestab::dw
