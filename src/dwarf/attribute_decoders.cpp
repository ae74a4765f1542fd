#include "dwarf/attribute_decoders.h"

#include <cstdio>

namespace kestab::dw {

namespace {

// The attribute's form; prints the designed message when it cannot be read.
bool readForm(Dwarf_Debug dbg, Dwarf_Attribute attr, Dwarf_Half& form) {
    const Answer answer = ask(dbg, [&](Dwarf_Error* err) { return dwarf_whatform(attr, &form, err); });
    if (!answer.ok()) {
        std::fprintf(stderr, "dwarf_whatform cannot find attr form (%d)", answer.code);
        return false;
    }
    return true;
}

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

bool readExternalFlag(Dwarf_Debug dbg, Dwarf_Attribute attr) {
    Dwarf_Half form = 0;
    if (!readForm(dbg, attr, form)) return false;
    if (form != DW_FORM_flag) return false;
    Dwarf_Bool flag = 0;
    const Answer answer = ask(dbg, [&](Dwarf_Error* err) { return dwarf_formflag(attr, &flag, err); });
    if (answer.error()) {
        std::fprintf(stderr, "Cannot get formflag (%d)....", answer.code);
        return false;
    }
    return answer.ok() && flag != 0;
}

Answer readGlobalReference(Dwarf_Debug dbg, Dwarf_Attribute attr, std::uint32_t& offset) {
    Dwarf_Off value = 0;
    Answer answer = ask(dbg, [&](Dwarf_Error* err) { return dwarf_global_formref(attr, &value, err); });
    if (answer.ok()) offset = static_cast<std::uint32_t>(value);
    return answer;
}

std::int32_t referencedTypeSize(Dwarf_Debug dbg, Dwarf_Attribute attr, const TypeTable& types) {
    Dwarf_Half form = 0;
    if (!readForm(dbg, attr, form)) return -1;
    if (!isReferenceForm(form)) return -1;
    std::uint32_t offset = 0;
    const Answer answer = readGlobalReference(dbg, attr, offset);
    if (!answer.ok()) {
        std::fprintf(stderr, "ref formwith no ref! (%d) err=(%ld)", answer.code, answer.errorNumber);
        return -1;
    }
    const auto row = types.findRow(offset);
    if (!row) return -1;
    return static_cast<std::int32_t>(types.row(*row).byteSize);
}

std::int32_t readSignedConstant(Dwarf_Debug dbg, Dwarf_Attribute attr) {
    Dwarf_Half form = 0;
    if (!readForm(dbg, attr, form)) return -1;
    if (form != DW_FORM_data1 && form != DW_FORM_data2 && form != DW_FORM_data4 && form != DW_FORM_data8)
        return -1;
    Dwarf_Half attrNumber = 0;
    const Answer what = ask(dbg, [&](Dwarf_Error* err) { return dwarf_whatattr(attr, &attrNumber, err); });
    if (what.error()) {
        std::fprintf(stderr, "FORM_datan cannot get attr (%d) err={%ld}", what.code, what.errorNumber);
        return -1;
    }
    if (what.noEntry()) {
        std::fprintf(stderr, "FORM_datan cannot get attr (%d) err={%ld})", what.code, what.errorNumber);
        return -1;
    }
    // Bounds of C arrays are never negative: the data forms are read
    // unsigned, so a bound of 199 in one byte stays 199.
    Dwarf_Unsigned value = 0;
    const Answer answer = ask(dbg, [&](Dwarf_Error* err) { return dwarf_formudata(attr, &value, err); });
    if (answer.error()) {
        std::fprintf(stderr, "Cannot get formsdata.. (%d) err={%ld}", answer.code, answer.errorNumber);
        return -1;
    }
    if (!answer.ok()) return -1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

bool decodeLocation(Dwarf_Debug dbg, Dwarf_Attribute attr, Location& location) {
    location = Location{};
    Dwarf_Loc_Head_c rawHead = nullptr;
    Dwarf_Unsigned count = 0;
    const Answer answer =
        ask(dbg, [&](Dwarf_Error* err) { return dwarf_get_loclist_c(attr, &rawHead, &count, err); });
    LocHeadOwner head(dbg, answer.ok() ? rawHead : nullptr);
    if (answer.error()) {
        std::fprintf(stderr, "Function dwarf_loclist() failed(%d)", answer.code);
        return false;
    }
    if (!answer.ok() || count != 1) return false;

    Dwarf_Small entryKind = 0;
    Dwarf_Unsigned rawLowPc = 0;
    Dwarf_Unsigned rawHighPc = 0;
    Dwarf_Bool addressUnavailable = false;
    Dwarf_Addr lowPc = 0;
    Dwarf_Addr highPc = 0;
    Dwarf_Unsigned operationCount = 0;
    Dwarf_Locdesc_c description = nullptr;
    Dwarf_Small source = 0;
    Dwarf_Unsigned expressionOffset = 0;
    Dwarf_Unsigned descriptionOffset = 0;
    const Answer entry = ask(dbg, [&](Dwarf_Error* err) {
        return dwarf_get_locdesc_entry_d(head.get(), 0, &entryKind, &rawLowPc, &rawHighPc, &addressUnavailable, &lowPc,
                                         &highPc, &operationCount, &description, &source, &expressionOffset,
                                         &descriptionOffset, err);
    });
    if (!entry.ok() || operationCount == 0) return false;

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
    if (atom == DW_OP_addr) {
        location.operand = static_cast<std::uint32_t>(operand1);
        location.registerByte = 255;
        return true;
    }
    return false;
}

}  // namespace kestab::dw
