// One debugging information entry (DIE) and its attributes: navigation,
// identity and attribute values, each read through one libdwarf call. Every
// reading function takes the message to print when the call fails (none by
// default) and hands back the call's answer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "dwarf/dwarf_access.h"

namespace kestab::dw {

// One attribute of a DIE, valid while the AttributeList it came from lives.
// Each value reader accepts whatever forms libdwarf's call for it accepts;
// the caller checks the form where only some will do.
class Attribute {
public:
    Attribute(Dwarf_Debug dbg, Dwarf_Attribute raw, Dwarf_Half number) : dbg_(dbg), raw_(raw), number_(number) {}

    // The attribute number (DW_AT_...).
    Dwarf_Half number() const { return number_; }
    // The form (DW_FORM_...), read when asked; prints "dwarf_whatform cannot
    // find attr form (%d)" and answers nothing when it cannot be read.
    std::optional<Dwarf_Half> form() const;

    // A string; a string libdwarf answers with a null pointer counts as no
    // entry.
    Answer string(std::string& value, const Report& report = {}) const;
    // Also DW_FORM_implicit_const, whose value the abbreviation holds.
    Answer unsignedConstant(Dwarf_Unsigned& value, const Report& report = {}) const;
    Answer signedConstant(Dwarf_Signed& value, const Report& report = {}) const;
    Answer address(Dwarf_Addr& value, const Report& report = {}) const;
    Answer flag(bool& value, const Report& report = {}) const;
    // The .debug_info offset a reference names, unit-local or global, cut
    // to its low 32 bits.
    Answer reference(std::uint32_t& offset, const Report& report = {}) const;
    // The bytes of a DW_FORM_exprloc or DW_FORM_block* value (`form`), where
    // they stand in the section; no entry for any other form.
    Answer block(Dwarf_Half form, std::span<const unsigned char>& bytes) const;

    Dwarf_Debug debug() const { return dbg_; }
    Dwarf_Attribute get() const { return raw_; }

private:
    Dwarf_Debug dbg_;
    Dwarf_Attribute raw_;
    Dwarf_Half number_;
};

// The attributes of one DIE, owned: each attribute, then the list, are
// released with it. Empty when they could not be read.
class AttributeList {
public:
    AttributeList() = default;
    AttributeList(Dwarf_Debug dbg, Dwarf_Attribute* attrs, Dwarf_Signed count)
        : dbg_(dbg), attrs_(attrs), count_(count > 0 ? count : 0) {}
    ~AttributeList() { reset(); }
    AttributeList(AttributeList&& other) noexcept
        : dbg_(other.dbg_), attrs_(std::exchange(other.attrs_, nullptr)), count_(std::exchange(other.count_, 0)) {}
    AttributeList& operator=(AttributeList&& other) noexcept;
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;

    // Calls `visit(const Attribute&)` for each attribute in the DIE's order.
    // An attribute whose number cannot be read is skipped, with
    // `numberReport` printed for it.
    template <class Visit>
    void visit(Visit&& visit, const Report& numberReport = {}) const {
        for (Dwarf_Signed i = 0; i < count_; ++i) {
            Dwarf_Half attributeNumber = 0;
            if (!attributeNumberOf(attrs_[i], attributeNumber, numberReport).ok()) continue;
            visit(Attribute(dbg_, attrs_[i], attributeNumber));
        }
    }

private:
    Answer attributeNumberOf(Dwarf_Attribute attr, Dwarf_Half& attributeNumber, const Report& report) const;
    void reset();

    Dwarf_Debug dbg_ = nullptr;
    Dwarf_Attribute* attrs_ = nullptr;
    Dwarf_Signed count_ = 0;
};

// A DIE, owned: released with the object. Empty when default-made or moved
// from.
class Die {
public:
    Die() = default;
    Die(Dwarf_Debug dbg, Dwarf_Die raw) : owner_(dbg, raw) {}

    // The DIE of the unit whose header the reader's iteration last stepped
    // to (see nextUnitHeader).
    static Answer ofCurrentUnit(Dwarf_Debug dbg, Die& unit, const Report& report = {});
    // The DIE at a .debug_info offset.
    static Answer atOffset(Dwarf_Debug dbg, Dwarf_Off offset, Die& die, const Report& report = {});

    explicit operator bool() const { return static_cast<bool>(owner_); }
    Dwarf_Die get() const { return owner_.get(); }
    Dwarf_Debug debug() const { return owner_.debug(); }

    Answer child(Die& child, const Report& report = {}) const;
    Answer sibling(Die& sibling, const Report& report = {}) const;
    Answer tag(Dwarf_Half& tag, const Report& report = {}) const;
    // The offset in .debug_info.
    Answer offset(Dwarf_Off& offset, const Report& report = {}) const;
    // The offset from the start of the DIE's unit.
    Answer unitOffset(Dwarf_Off& offset, const Report& report = {}) const;
    // The .debug_info offset of the DIE of the unit the DIE stands in.
    Answer unitDieOffset(Dwarf_Off& offset, const Report& report = {}) const;
    // The DWARF version and offset size (4 or 8) of the DIE's unit.
    Answer unitVersion(Dwarf_Half& version, Dwarf_Half& offsetSize, const Report& report = {}) const;
    // The size of an address in the DIE's unit.
    Answer addressSize(Dwarf_Half& size, const Report& report = {}) const;
    // Entry `index` of the DIE's unit's .debug_addr table (DW_AT_addr_base).
    Answer addressAtIndex(Dwarf_Unsigned index, Dwarf_Addr& address, const Report& report = {}) const;
    // The attributes; an empty list when they cannot be read.
    AttributeList attributes(const Report& report = {}) const;
    // A unit DIE's source-file names, in file-number order.
    Answer sourceFiles(std::vector<std::string>& names, const Report& report = {}) const;

private:
    DieOwner owner_;
};

// Visits the DIE of every compilation unit in image order. A unit whose DIE
// cannot be had is reported and skipped. `visit` returns false to end the
// walk at once. The answer is false when the unit iteration failed
// (reported) or a visit ended it.
bool forEachUnit(Dwarf_Debug dbg, const std::function<bool(const Die& unit)>& visit);

}  // namespace kestab::dw
