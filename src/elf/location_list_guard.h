// The location lists that the reading passes have libdwarf read, checked
// before libdwarf sees them: libdwarf 20210528 reads past the end of
// .debug_loclists when an entry's expression length runs beyond it.
#pragma once

#include <optional>
#include <span>

namespace kestab::elf {

// The sections the check reads, as a DWARF reader sees them (inflated);
// nothing for a section the image lacks or that cannot be read.
struct LocationSections {
    std::optional<std::span<const unsigned char>> info;
    std::optional<std::span<const unsigned char>> abbrev;
    std::optional<std::span<const unsigned char>> loc;       // units of version 2 to 4
    std::optional<std::span<const unsigned char>> loclists;  // units of version 5
    bool bigEndian = false;
};

enum class ListSection { none, loc, loclists };

// Walks the DIEs of .debug_info and follows every DW_AT_location and
// DW_AT_frame_base that names a location list (DW_FORM_sec_offset, data4 or
// data8 in units of version 2 and 3, DW_FORM_loclistx through the unit's
// DW_AT_loclists_base). Answers the section of the first list that does not
// end inside it: one that starts past its end, or whose entries (addresses,
// expression lengths and expressions) run past it before the end-of-list
// entry. Where the walk cannot go on (an unknown form or entry kind, a
// damaged unit header or abbreviation) it stops without an answer, as it
// does for lists in a section that is not there: libdwarf refuses those
// by itself.
ListSection listRunningPastItsSection(const LocationSections& sections);

}  // namespace kestab::elf
