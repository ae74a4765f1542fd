#include "dwarf/die.h"

namespace kestab::dw {

std::optional<Dwarf_Half> Attribute::form() const {
    Dwarf_Half value = 0;
    const Answer answer = ask(dbg_, unlessOk("dwarf_whatform cannot find attr form (%d)", kCode),
                              [&](Dwarf_Error* err) { return dwarf_whatform(raw_, &value, err); });
    if (!answer.ok()) return std::nullopt;
    return value;
}

Answer Attribute::string(std::string& value, const Report& report) const {
    char* raw = nullptr;
    Answer answer = ask(dbg_, report, [&](Dwarf_Error* err) { return dwarf_formstring(raw_, &raw, err); });
    if (answer.ok() && raw == nullptr) answer.code = DW_DLV_NO_ENTRY;
    if (answer.ok()) value = raw;
    return answer;
}

Answer Attribute::unsignedConstant(Dwarf_Unsigned& value, const Report& report) const {
    // The 2021 libdwarf's dwarf_formudata refuses DW_FORM_implicit_const;
    // dwarf_formsdata reads the constant the abbreviation keeps.
    Dwarf_Half form = 0;
    const Answer what = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_whatform(raw_, &form, err); });
    if (what.ok() && form == DW_FORM_implicit_const) {
        Dwarf_Signed constant = 0;
        Answer answer = ask(dbg_, report, [&](Dwarf_Error* err) { return dwarf_formsdata(raw_, &constant, err); });
        if (answer.ok()) value = static_cast<Dwarf_Unsigned>(constant);
        return answer;
    }
    return ask(dbg_, report, [&](Dwarf_Error* err) { return dwarf_formudata(raw_, &value, err); });
}

Answer Attribute::signedConstant(Dwarf_Signed& value, const Report& report) const {
    return ask(dbg_, report, [&](Dwarf_Error* err) { return dwarf_formsdata(raw_, &value, err); });
}

Answer Attribute::address(Dwarf_Addr& value, const Report& report) const {
    return ask(dbg_, report, [&](Dwarf_Error* err) { return dwarf_formaddr(raw_, &value, err); });
}

Answer Attribute::flag(bool& value, const Report& report) const {
    Dwarf_Bool raw = 0;
    Answer answer = ask(dbg_, report, [&](Dwarf_Error* err) { return dwarf_formflag(raw_, &raw, err); });
    if (answer.ok()) value = raw != 0;
    return answer;
}

Answer Attribute::reference(std::uint32_t& offset, const Report& report) const {
    Dwarf_Off value = 0;
    Answer answer = ask(dbg_, report, [&](Dwarf_Error* err) { return dwarf_global_formref(raw_, &value, err); });
    if (answer.ok()) offset = static_cast<std::uint32_t>(value);
    return answer;
}

Answer Attribute::block(Dwarf_Half form, std::span<const unsigned char>& bytes) const {
    if (form == DW_FORM_exprloc) {
        Dwarf_Unsigned length = 0;
        Dwarf_Ptr data = nullptr;
        const Answer answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_formexprloc(raw_, &length, &data, err); });
        if (answer.ok()) bytes = {static_cast<const unsigned char*>(data), static_cast<std::size_t>(length)};
        return answer;
    }
    if (form != DW_FORM_block1 && form != DW_FORM_block2 && form != DW_FORM_block4 && form != DW_FORM_block)
        return Answer{DW_DLV_NO_ENTRY, 0, {}};
    Dwarf_Block* raw = nullptr;
    const Answer answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_formblock(raw_, &raw, err); });
    const BlockOwner owned(dbg_, answer.ok() ? raw : nullptr);
    if (answer.ok())
        bytes = {static_cast<const unsigned char*>(raw->bl_data), static_cast<std::size_t>(raw->bl_len)};
    return answer;
}

AttributeList& AttributeList::operator=(AttributeList&& other) noexcept {
    if (this != &other) {
        reset();
        dbg_ = other.dbg_;
        attrs_ = std::exchange(other.attrs_, nullptr);
        count_ = std::exchange(other.count_, 0);
    }
    return *this;
}

Answer AttributeList::attributeNumberOf(Dwarf_Attribute attr, Dwarf_Half& attributeNumber,
                                        const Report& report) const {
    return ask(dbg_, report, [&](Dwarf_Error* err) { return dwarf_whatattr(attr, &attributeNumber, err); });
}

void AttributeList::reset() {
    if (attrs_ == nullptr) return;
    for (Dwarf_Signed i = 0; i < count_; ++i) dwarf_dealloc(dbg_, attrs_[i], DW_DLA_ATTR);
    dwarf_dealloc(dbg_, attrs_, DW_DLA_LIST);
    attrs_ = nullptr;
    count_ = 0;
}

Answer Die::ofCurrentUnit(Dwarf_Debug dbg, Die& unit, const Report& report) {
    Dwarf_Die raw = nullptr;
    Answer answer =
        ask(dbg, report, [&](Dwarf_Error* err) { return dwarf_siblingof_b(dbg, nullptr, true, &raw, err); });
    if (answer.ok()) unit = Die(dbg, raw);
    return answer;
}

Answer Die::atOffset(Dwarf_Debug dbg, Dwarf_Off offset, Die& die, const Report& report) {
    Dwarf_Die raw = nullptr;
    Answer answer = ask(dbg, report, [&](Dwarf_Error* err) { return dwarf_offdie_b(dbg, offset, true, &raw, err); });
    if (answer.ok()) die = Die(dbg, raw);
    return answer;
}

Answer Die::child(Die& child, const Report& report) const {
    Dwarf_Die raw = nullptr;
    Answer answer = ask(debug(), report, [&](Dwarf_Error* err) { return dwarf_child(get(), &raw, err); });
    if (answer.ok()) child = Die(debug(), raw);
    return answer;
}

Answer Die::sibling(Die& sibling, const Report& report) const {
    Dwarf_Die raw = nullptr;
    Answer answer =
        ask(debug(), report, [&](Dwarf_Error* err) { return dwarf_siblingof_b(debug(), get(), true, &raw, err); });
    if (answer.ok()) sibling = Die(debug(), raw);
    return answer;
}

Answer Die::tag(Dwarf_Half& tag, const Report& report) const {
    return ask(debug(), report, [&](Dwarf_Error* err) { return dwarf_tag(get(), &tag, err); });
}

Answer Die::offset(Dwarf_Off& offset, const Report& report) const {
    return ask(debug(), report, [&](Dwarf_Error* err) { return dwarf_dieoffset(get(), &offset, err); });
}

Answer Die::unitOffset(Dwarf_Off& offset, const Report& report) const {
    return ask(debug(), report, [&](Dwarf_Error* err) { return dwarf_die_CU_offset(get(), &offset, err); });
}

Answer Die::unitDieOffset(Dwarf_Off& offset, const Report& report) const {
    return ask(debug(), report, [&](Dwarf_Error* err) { return dwarf_CU_dieoffset_given_die(get(), &offset, err); });
}

Answer Die::unitVersion(Dwarf_Half& version, Dwarf_Half& offsetSize, const Report& report) const {
    // Answers no error descriptor.
    const int code = dwarf_get_version_of_die(get(), &version, &offsetSize);
    Answer answer;
    answer.code = code;
    report.print(answer);
    return answer;
}

Answer Die::addressSize(Dwarf_Half& size, const Report& report) const {
    return ask(debug(), report, [&](Dwarf_Error* err) { return dwarf_get_die_address_size(get(), &size, err); });
}

Answer Die::addressAtIndex(Dwarf_Unsigned index, Dwarf_Addr& address, const Report& report) const {
    return ask(debug(), report,
               [&](Dwarf_Error* err) { return dwarf_debug_addr_index_to_addr(get(), index, &address, err); });
}

AttributeList Die::attributes(const Report& report) const {
    Dwarf_Attribute* attrs = nullptr;
    Dwarf_Signed count = 0;
    const Answer answer =
        ask(debug(), report, [&](Dwarf_Error* err) { return dwarf_attrlist(get(), &attrs, &count, err); });
    if (!answer.ok()) return AttributeList();
    return AttributeList(debug(), attrs, count);
}

Answer Die::sourceFiles(std::vector<std::string>& names, const Report& report) const {
    char** raw = nullptr;
    Dwarf_Signed count = 0;
    Answer answer = ask(debug(), report, [&](Dwarf_Error* err) { return dwarf_srcfiles(get(), &raw, &count, err); });
    if (!answer.ok()) return answer;
    names.clear();
    if (raw == nullptr) return answer;
    for (Dwarf_Signed i = 0; i < count; ++i) {
        names.emplace_back(raw[i] != nullptr ? raw[i] : "");
        if (raw[i] != nullptr) dwarf_dealloc(debug(), raw[i], DW_DLA_STRING);
    }
    dwarf_dealloc(debug(), raw, DW_DLA_LIST);
    return answer;
}

bool forEachUnit(Dwarf_Debug dbg, const std::function<bool(const Die& unit)>& visit) {
    constexpr Report kIterationFailed =
        onError("ERROR:  Attempting to dump address lines:  %s (%ld)\n", kErrorText, kErrorNumber);
    constexpr Report kUnitDieFailed = onError("ERROR: Regetting cu_die: %s (%ld)", kErrorText, kCode);
    for (;;) {
        const Answer next = nextUnitHeader(dbg, kIterationFailed);
        if (next.error()) return false;
        if (!next.ok()) return true;
        Die unit;
        if (!Die::ofCurrentUnit(dbg, unit, kUnitDieFailed).ok()) continue;
        if (!visit(unit)) return false;
    }
}

}  // namespace kestab::dw
