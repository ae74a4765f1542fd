// The frame information of the image as libdwarf gives it: the CFA rows of
// .debug_frame and the entries of a location (expression or list).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "dwarf/die.h"
#include "dwarf/dwarf_access.h"

namespace kestab::dw {

// An address range [low, high).
struct AddressSpan {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
};

// One CFA rule of a .debug_frame row, as the frame interface gives it.
struct CfaRow {
    AddressSpan span;
    bool registerPlusOffset = false;  // false for a rule given as an expression
    std::int64_t reg = 0;
    std::int64_t offset = 0;
};

// The .debug_frame FDE list, read the first time it is asked for, released
// with the object.
class FdeList {
public:
    explicit FdeList(Dwarf_Debug dbg) : dbg_(dbg) {}

    // The CFA rows of the FDE that holds `pc`, each cut to the FDE's range;
    // empty when there is no .debug_frame or no FDE there.
    std::vector<CfaRow> cfaRowsAt(std::uint64_t pc);

private:
    bool load();
    bool fdeRange(Dwarf_Fde fde, AddressSpan& range);
    std::optional<CfaRow> cfaRowAt(Dwarf_Fde fde, std::uint64_t at, std::uint64_t end);

    Dwarf_Debug dbg_;
    bool tried_ = false;
    FdeListHandle lists_;
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
