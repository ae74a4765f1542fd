// Locations read from their own bytes: DWARF 5 location lists of
// .debug_loclists, for the lists libdwarf refuses (those holding GCC's
// DW_LLE_GNU_view_pair entries, -gvariable-location-views=incompat5, a kind
// libdwarf 2.x does not know), and single location expressions that
// libdwarf would read without fail.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "elf/list_entry.h"

namespace kestab::dw {

using elf::indexedListOffset;
using elf::kLleGnuViewPair;

// What one list holds, read from its first entry to its end-of-list entry.
struct ListScan {
    bool complete = false;     // every entry read, up to the end of the list
    bool cut = false;          // an entry runs past the section's end (or the list starts past it)
    bool hasViewPair = false;  // a DW_LLE_GNU_view_pair among them
    // Entries that give a location: base-address, view-pair and end-of-list
    // entries give none.
    unsigned locations = 0;
    std::span<const unsigned char> firstExpression;  // of the first of them
};

// Scans the list at `offset` of `section` (a .debug_loclists section of a
// little- or big-endian image), never past the section's end.
ListScan scanLocationList(std::span<const unsigned char> section, std::uint64_t offset, unsigned addressSize,
                          bool bigEndian);

// The first operation of a location expression: its code and, for the
// operations the MAP file shows (DW_OP_regN none, DW_OP_bregN and
// DW_OP_fbreg an offset, DW_OP_addr an address, DW_OP_addrx and
// DW_OP_GNU_addr_index an index), its operand as libdwarf gives it (a
// signed one in two's complement). Other operations come with operand 0;
// nothing for an empty or cut-off expression.
struct LeadingOperation {
    std::uint8_t atom = 0;
    std::uint64_t operand = 0;
};
std::optional<LeadingOperation> firstOperation(std::span<const unsigned char> expression, unsigned addressSize,
                                               bool bigEndian);

// Whether every libdwarf reads each operation of `expression` without fail:
// each is one of the plain DWARF operations (stack, arithmetic, constants,
// DW_OP_addr with 4- or 8-byte addresses, registers, DW_OP_fbreg,
// DW_OP_piece, DW_OP_stack_value), its operands lie inside the expression,
// a LEB128 operand takes at most five bytes, and the last operation ends
// where the expression does. An empty expression reads cleanly. Any other
// is left to libdwarf, whose answer, or failure, stands.
bool expressionReadsCleanly(std::span<const unsigned char> expression, unsigned addressSize);

// The contents of .debug_loclists, read from the image the first time they
// are asked for.
class LocationListSection {
public:
    // Fills the contents and the image's byte order; false when the image
    // has no such section or it cannot be read.
    using Loader = std::function<bool(std::vector<unsigned char>& contents, bool& bigEndian)>;

    LocationListSection() = default;
    explicit LocationListSection(Loader loader) : loader_(std::move(loader)) {}

    // Null when there is no section to read.
    const std::vector<unsigned char>* contents(bool& bigEndian);

    // The DW_AT_loclists_base of the unit at `unitOffset`: `read` is asked
    // once for each unit in a row, DIEs coming unit by unit.
    std::optional<std::uint64_t> unitBase(std::uint64_t unitOffset,
                                          const std::function<std::optional<std::uint64_t>()>& read);

private:
    std::optional<std::uint64_t> baseUnit_;  // the unit base_ belongs to
    std::optional<std::uint64_t> base_;
    Loader loader_;
    bool tried_ = false;
    bool loaded_ = false;
    bool bigEndian_ = false;
    std::vector<unsigned char> contents_;
};

}  // namespace kestab::dw
