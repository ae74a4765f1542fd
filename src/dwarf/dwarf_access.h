// Owners of libdwarf and libelf handles, and the one helper that runs a
// libdwarf call and sorts its three answers. Only the reading passes include
// this header.
#pragma once

#include <dwarf.h>
#include <libdwarf.h>
#include <libelf.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "dwarf/debug_reader.h"
#include "dwarf/libdwarf_compat.h"

namespace kestab::dw {

// What a libdwarf call answered. An error's number and text are copied out
// and the error descriptor itself is released at once.
struct Answer {
    int code = DW_DLV_OK;
    long errorNumber = 0;
    std::string errorText;

    bool ok() const { return code == DW_DLV_OK; }
    bool noEntry() const { return code == DW_DLV_NO_ENTRY; }
    // Anything but ok and no entry counts as an error.
    bool error() const { return !ok() && !noEntry(); }
};

// Runs `call(Dwarf_Error*)` and sorts its answer.
template <class Call>
Answer ask(Dwarf_Debug dbg, Call&& call) {
    Dwarf_Error err = nullptr;
    Answer answer;
    answer.code = call(&err);
    if (answer.code != DW_DLV_OK && answer.code != DW_DLV_NO_ENTRY) {
        if (err != nullptr) {
            answer.errorNumber = static_cast<long>(dwarf_errno(err));
            const char* text = dwarf_errmsg(err);
            answer.errorText = text != nullptr ? text : "";
        }
    }
    if (err != nullptr) dwarf_dealloc_error(dbg, err);
    return answer;
}

// Steps the reader's unit iteration to the next unit header. After it has
// answered no entry, the next call starts again at the first unit.
Answer nextUnitHeader(Dwarf_Debug dbg);

// Visits the DIE of every compilation unit in image order. A unit whose DIE
// cannot be had is reported and skipped. `visit(Dwarf_Die)` returns false to
// end the walk at once. The answer is false when the unit iteration failed
// (reported) or a visit ended it.
template <class Visit>
bool forEachUnit(Dwarf_Debug dbg, Visit&& visit);

// A move-only owner of one libdwarf object released through a function.
template <class T, void (*Release)(Dwarf_Debug, T)>
class Owner {
public:
    Owner() = default;
    Owner(Dwarf_Debug dbg, T value) : dbg_(dbg), value_(value) {}
    ~Owner() { reset(); }
    Owner(Owner&& other) noexcept : dbg_(other.dbg_), value_(std::exchange(other.value_, T{})) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) {
            reset();
            dbg_ = other.dbg_;
            value_ = std::exchange(other.value_, T{});
        }
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    T get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }
    void reset() {
        if (value_ != T{}) Release(dbg_, std::exchange(value_, T{}));
    }

private:
    Dwarf_Debug dbg_ = nullptr;
    T value_{};
};

inline void releaseDie(Dwarf_Debug, Dwarf_Die die) { dwarf_dealloc_die(die); }
inline void releaseString(Dwarf_Debug dbg, char* text) { dwarf_dealloc(dbg, text, DW_DLA_STRING); }
inline void releaseLineContext(Dwarf_Debug, Dwarf_Line_Context context) { dwarf_srclines_dealloc_b(context); }
inline void releaseLocHead(Dwarf_Debug, Dwarf_Loc_Head_c head) { deallocLocHead(head); }

using DieOwner = Owner<Dwarf_Die, releaseDie>;
using StringOwner = Owner<char*, releaseString>;
using LineContextOwner = Owner<Dwarf_Line_Context, releaseLineContext>;
using LocHeadOwner = Owner<Dwarf_Loc_Head_c, releaseLocHead>;

template <class Visit>
bool forEachUnit(Dwarf_Debug dbg, Visit&& visit) {
    for (;;) {
        const Answer next = nextUnitHeader(dbg);
        if (next.error()) {
            std::fprintf(stderr, "ERROR:  Attempting to dump address lines:  %s (%ld)\n", next.errorText.c_str(),
                         next.errorNumber);
            return false;
        }
        if (!next.ok()) return true;
        Dwarf_Die rawUnit = nullptr;
        const Answer unit =
            ask(dbg, [&](Dwarf_Error* err) { return dwarf_siblingof_b(dbg, nullptr, true, &rawUnit, err); });
        if (unit.error()) {
            std::fprintf(stderr, "ERROR: Regetting cu_die: %s (%ld)", unit.errorText.c_str(),
                         static_cast<long>(unit.code));
            continue;
        }
        if (!unit.ok()) continue;
        const DieOwner unitDie(dbg, rawUnit);
        if (!visit(unitDie.get())) return false;
    }
}

// The attributes of one DIE: each attribute, then the list.
class AttrList {
public:
    AttrList() = default;
    AttrList(Dwarf_Debug dbg, Dwarf_Attribute* attrs, Dwarf_Signed count)
        : dbg_(dbg), attrs_(attrs), count_(count > 0 ? count : 0) {}
    ~AttrList() { reset(); }
    AttrList(AttrList&& other) noexcept
        : dbg_(other.dbg_), attrs_(std::exchange(other.attrs_, nullptr)), count_(std::exchange(other.count_, 0)) {}
    AttrList& operator=(AttrList&&) = delete;
    AttrList(const AttrList&) = delete;
    AttrList& operator=(const AttrList&) = delete;

    Dwarf_Signed size() const { return count_; }
    Dwarf_Attribute operator[](Dwarf_Signed i) const { return attrs_[i]; }
    void reset() {
        if (attrs_ == nullptr) return;
        for (Dwarf_Signed i = 0; i < count_; ++i) dwarf_dealloc(dbg_, attrs_[i], DW_DLA_ATTR);
        dwarf_dealloc(dbg_, attrs_, DW_DLA_LIST);
        attrs_ = nullptr;
        count_ = 0;
    }

private:
    Dwarf_Debug dbg_ = nullptr;
    Dwarf_Attribute* attrs_ = nullptr;
    Dwarf_Signed count_ = 0;
};

// A unit's source-file list: each name, then the list.
class SrcFiles {
public:
    SrcFiles(Dwarf_Debug dbg, char** names, Dwarf_Signed count)
        : dbg_(dbg), names_(names), count_(count > 0 ? count : 0) {}
    ~SrcFiles() {
        if (names_ == nullptr) return;
        for (Dwarf_Signed i = 0; i < count_; ++i) dwarf_dealloc(dbg_, names_[i], DW_DLA_STRING);
        dwarf_dealloc(dbg_, names_, DW_DLA_LIST);
    }
    SrcFiles(const SrcFiles&) = delete;
    SrcFiles& operator=(const SrcFiles&) = delete;

    Dwarf_Signed size() const { return count_; }
    const char* operator[](Dwarf_Signed i) const { return names_[i]; }

private:
    Dwarf_Debug dbg_;
    char** names_;
    Dwarf_Signed count_;
};

}  // namespace kestab::dw

namespace kestab {

// The handles behind a DebugReader: the libdwarf reader is finished before
// the ELF handle it reads from is ended.
struct DebugReader::Handles {
    Elf* elf = nullptr;
    Dwarf_Debug dbg = nullptr;
};

}  // namespace kestab
