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
    if (attr.form() != DW_FORM_flag) return false;
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
    if (form != DW_FORM_data1 && form != DW_FORM_data2 && form != DW_FORM_data4 && form != DW_FORM_data8)
        return -1;
    // Bounds of C arrays are never negative: the data forms are read
    // unsigned, so a bound of 199 in one byte stays 199.
    Dwarf_Unsigned value = 0;
    if (!attr.unsignedConstant(value, onError("Cannot get formsdata.. (%d) err={%ld}")).ok()) return -1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

bool decodeLocation(const Attribute& attr, Location& location) {
    location = Location{};
    const Dwarf_Debug dbg = attr.debug();
    Dwarf_Loc_Head_c rawHead = nullptr;
    Dwarf_Unsigned count = 0;
    const Answer answer = ask(dbg, onError("Function dwarf_loclist() failed(%d)", kCode), [&](Dwarf_Error* err) {
        return dwarf_get_loclist_c(attr.get(), &rawHead, &count, err);
    });
    const LocHeadOwner head(dbg, answer.ok() ? rawHead : nullptr);
    if (!answer.ok() || count != 1) return false;

    Dwarf_Small entryKind = 0;
    Dwarf_Addr lowPc = 0;
    Dwarf_Addr highPc = 0;
    Dwarf_Unsigned operationCount = 0;
    Dwarf_Locdesc_c description = nullptr;
    Dwarf_Small source = 0;
    Dwarf_Unsigned expressionOffset = 0;
    Dwarf_Unsigned descriptionOffset = 0;
    const Answer entry = ask(dbg, [&](Dwarf_Error* err) {
        return dwarf_get_locdesc_entry_c(head.get(), 0, &entryKind, &lowPc, &highPc, &operationCount,
                                         &description, &source, &expressionOffset, &descriptionOffset, err);
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

}  // namespace kestab::dw
