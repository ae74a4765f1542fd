// The frame information of the image as libdwarf gives it: the CFA rows of
// .debug_frame and the entries of a location (expression or list).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "dwarf/cfa_rows.h"
#include "dwarf/die.h"
#include "dwarf/dwarf_access.h"

namespace kestab::dw {

// The .debug_frame FDE list, read the first time it is asked for, released
// with the object.
class FdeList {
public:
    explicit FdeList(Dwarf_Debug dbg) : dbg_(dbg) {}

    // The CFA rows of the FDE that holds `pc`, each cut to the FDE's range
    // (decodeCfaRows over the FDE's instructions, read once); empty when
    // there is no .debug_frame or no FDE there.
    std::vector<CfaRow> cfaRowsAt(std::uint64_t pc);

private:
    bool load();
    bool fdeRange(Dwarf_Fde fde, AddressSpan& range);
    bool readProgram(Dwarf_Fde fde, CfaProgram& program);

    Dwarf_Debug dbg_;
    bool tried_ = false;
    FdeListHandle lists_;
    // Of the whole reader, found when the list is read.
    bool bigEndian_ = false;
    std::uint64_t addressSize_ = 4;
    std::uint64_t registerCount_ = 0;
};

// One operation of a location description.
struct Operation {
    Dwarf_Small atom = 0;
    Dwarf_Unsigned operand = 0;
};

// One entry of a location list or expression: its range and, when it is a
// single operation, that operation.
struct LocEntry {
    AddressSpan span;
    std::optional<Operation> single;
};

// A location attribute's entries; an expression has one, whose range means
// nothing. Entries whose addresses are unavailable are left out.
struct LocationEntries {
    enum class Kind { expression, list, other };
    Kind kind = Kind::other;
    std::vector<LocEntry> entries;
};

// None when the location or its kind cannot be read.
std::optional<LocationEntries> readLocationEntries(const Attribute& location);

}  // namespace kestab::dw
