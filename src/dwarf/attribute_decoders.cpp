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
// also has base-address entries, GCC's view pairs and its end-of-list entry
// among the entries libdwarf counts; they give none.
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
             entry.kind == DW_LLE_base_addressx || entry.kind == kLleGnuViewPair))
            continue;
        if (located++ == 0) first = i;
    }
    return located;
}

// One operation, with its first operand, if it is one of the kinds the MAP
// file shows. An index into .debug_addr is looked up in the table of
// `die`'s unit.
bool decodeOperation(const Die& die, Dwarf_Small atom, Dwarf_Unsigned operand1, Location& location) {
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
    if (atom == DW_OP_addrx || atom == DW_OP_GNU_addr_index) {
        Dwarf_Addr address = 0;
        if (!die.addressAtIndex(operand1, address).ok()) return false;
        operand1 = address;
        atom = DW_OP_addr;
    }
    if (atom == DW_OP_addr) {
        location.operand = static_cast<std::uint32_t>(operand1);
        location.registerByte = kAddressRegisterByte;
        return true;
    }
    return false;
}

// The first operation of a location description, decoded as above.
bool decodeFirstOperation(const Die& die, Dwarf_Locdesc_c description, Location& location) {
    Dwarf_Small atom = 0;
    Dwarf_Unsigned operand1 = 0;
    Dwarf_Unsigned operand2 = 0;
    Dwarf_Unsigned operand3 = 0;
    Dwarf_Unsigned branchOffset = 0;
    const Answer operation = ask(die.debug(), [&](Dwarf_Error* err) {
        return dwarf_get_location_op_value_c(description, 0, &atom, &operand1, &operand2, &operand3,
                                             &branchOffset, err);
    });
    return operation.ok() && decodeOperation(die, atom, operand1, location);
}

// The DW_AT_loclists_base of the unit that holds `die`, looked up once per
// unit.
std::optional<std::uint64_t> loclistsBase(const Die& die, LocationListSection& lists) {
    Dwarf_Off unitOffset = 0;
    if (!die.unitDieOffset(unitOffset).ok()) return std::nullopt;
    return lists.unitBase(unitOffset, [&]() -> std::optional<std::uint64_t> {
        Die unit;
        if (!Die::atOffset(die.debug(), unitOffset, unit).ok()) return std::nullopt;
        std::optional<std::uint64_t> base;
        unit.attributes().visit([&](const Attribute& unitAttr) {
            std::uint32_t value = 0;
            if (unitAttr.number() == DW_AT_loclists_base && unitAttr.reference(value).ok()) base = value;
        });
        return base;
    });
}

// Where in .debug_loclists the DWARF 5 location list an attribute names
// lies.
struct NamedList {
    std::span<const unsigned char> section;
    bool bigEndian = false;
    unsigned addressSize = 0;
    std::optional<std::uint64_t> offset;  // none: its index lies past the offset table
};

// The list a DW_FORM_sec_offset or DW_FORM_loclistx attribute of a DWARF 5
// unit names. Nothing for any other attribute, without .debug_loclists, or
// when the list cannot be told: a value that cannot be read, or (as in the
// image's own check) a loclistx without DW_AT_loclists_base to count from.
std::optional<NamedList> namedList(const Die& die, const Attribute& attr, std::optional<Dwarf_Half> form,
                                   LocationListSection& lists) {
    Dwarf_Half version = 0;
    Dwarf_Half offsetSize = 0;
    Dwarf_Half addressSize = 0;
    if ((form != DW_FORM_sec_offset && form != DW_FORM_loclistx) || !die.unitVersion(version, offsetSize).ok() ||
        version < 5 || !die.addressSize(addressSize).ok())
        return std::nullopt;
    bool bigEndian = false;
    const std::vector<unsigned char>* section = lists.contents(bigEndian);
    if (section == nullptr) return std::nullopt;
    NamedList list{*section, bigEndian, addressSize, std::nullopt};
    if (form == DW_FORM_sec_offset) {
        std::uint32_t value = 0;
        if (!attr.reference(value).ok()) return std::nullopt;
        list.offset = value;
        return list;
    }
    Dwarf_Unsigned index = 0;
    const std::optional<std::uint64_t> base = loclistsBase(die, lists);
    if (!attr.unsignedConstant(index).ok() || !base) return std::nullopt;
    list.offset = indexedListOffset(list.section, *base, index, offsetSize, bigEndian);
    return list;
}

// The scan of the DWARF 5 list a location names; nothing for any other
// location. A list whose index lies past the offset table counts as cut off.
std::optional<ListScan> scanNamedList(const std::optional<NamedList>& list) {
    if (!list) return std::nullopt;  // libdwarf is left to answer
    if (!list->offset) {
        ListScan cut;
        cut.cut = true;
        return cut;
    }
    return scanLocationList(list->section, *list->offset, list->addressSize, list->bigEndian);
}

// Whether the DWARF 5 list a location names runs past its section.
bool runsPastSection(const std::optional<ListScan>& scan) { return scan && scan->cut; }

// A DWARF 5 location list that libdwarf refused, read from the section's
// bytes when it holds view pairs: true or false as decodeLocation answers,
// nothing when it is not such a list (libdwarf's refusal then stands).
std::optional<bool> decodeViewPairList(const Die& die, const std::optional<NamedList>& list,
                                       const std::optional<ListScan>& scan, Location& location) {
    if (!scan || !scan->complete || !scan->hasViewPair) return std::nullopt;
    if (scan->locations != 1) return false;
    const std::optional<LeadingOperation> first =
        firstOperation(scan->firstExpression, list->addressSize, list->bigEndian);
    return first && decodeOperation(die, first->atom, first->operand, location);
}

// A single location expression (DW_FORM_exprloc or DW_FORM_block*) that
// libdwarf is known to read without fail (expressionReadsCleanly), decoded
// from its bytes: true or false as decodeLocation answers. Nothing for any
// other, which libdwarf then reads.
std::optional<bool> decodePlainExpression(const Die& die, const Attribute& attr, Dwarf_Half form,
                                          Location& location) {
    std::span<const unsigned char> bytes;
    Dwarf_Half addressSize = 0;
    if (!attr.block(form, bytes).ok() || !die.addressSize(addressSize).ok() ||
        !expressionReadsCleanly(bytes, addressSize))
        return std::nullopt;
    const std::optional<LeadingOperation> first = firstOperation(bytes, addressSize, imageBigEndian(die.debug()));
    return first && decodeOperation(die, first->atom, first->operand, location);
}

}  // namespace

bool locationListRunsPastSection(const Die& die, const Attribute& attr, LocationListSection& lists) {
    return runsPastSection(scanNamedList(namedList(die, attr, attr.form(), lists)));
}

bool decodeLocation(const Die& die, const Attribute& attr, LocationListSection& lists, Location& location) {
    location = Location{};
    constexpr Report kListFailed = onError("Function dwarf_loclist() failed(%d)", kCode);
    const std::optional<Dwarf_Half> form = attr.form();
    if (form) {
        if (const std::optional<bool> read = decodePlainExpression(die, attr, *form, location)) return *read;
    }
    const std::optional<NamedList> list = namedList(die, attr, form, lists);
    const std::optional<ListScan> scan = scanNamedList(list);
    if (runsPastSection(scan)) {
        kListFailed.print(Answer{DW_DLV_ERROR, 0, {}});
        return false;
    }
    const Dwarf_Debug dbg = attr.debug();
    Dwarf_Loc_Head_c rawHead = nullptr;
    Dwarf_Unsigned count = 0;
    const Answer answer =
        ask(dbg, [&](Dwarf_Error* err) { return dwarf_get_loclist_c(attr.get(), &rawHead, &count, err); });
    const LocHeadOwner head(dbg, answer.ok() ? rawHead : nullptr);
    if (answer.error()) {
        if (const std::optional<bool> read = decodeViewPairList(die, list, scan, location)) return *read;
        kListFailed.print(answer);
    }
    if (!answer.ok()) return false;
    Dwarf_Unsigned index = 0;
    if (countLocationEntries(dbg, head.get(), count, index) != 1) return false;

    LocationEntry entry;
    if (!readLocationEntry(dbg, head.get(), index, entry).ok() || entry.operationCount == 0) return false;
    return decodeFirstOperation(die, entry.description, location);
}

}  // namespace kestab::dw
