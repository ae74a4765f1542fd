// One entry of a DWARF 5 location list (.debug_loclists), read from the
// section's bytes, never past their end: for the check made before libdwarf
// sees an image, and for the lists the reading passes read themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "elf/byte_reader.h"

namespace kestab::elf {

// The entry kind GCC writes before a range to give the views at its ends
// (-gvariable-location-views=incompat5).
inline constexpr std::uint8_t kLleGnuViewPair = 0x09;

enum class EntryRead {
    entry,        // an entry other than the end of the list
    endOfList,    // DW_LLE_end_of_list
    unknownKind,  // a kind neither DWARF 5 nor GCC defines: the list cannot be read on
    cut,          // the entry runs past the end of the bytes
};

struct ListEntry {
    std::uint8_t kind = 0;
    bool located = false;  // the entry gives a location, `expression`
    std::span<const unsigned char> expression;
};

// Reads the entry at the reader's position; addresses are `addressSize`
// bytes (1 to 8, else an entry with an address counts as cut).
EntryRead readListEntry(ByteReader& in, std::uint64_t addressSize, ListEntry& entry);

// The section offset of list `index` (DW_FORM_loclistx) of the offset table
// at `base` (DW_AT_loclists_base), whose entries are `offsetSize` bytes
// (4 or 8) and count from `base`; nothing past the section's end.
std::optional<std::uint64_t> indexedListOffset(std::span<const unsigned char> section, std::uint64_t base,
                                               std::uint64_t index, unsigned offsetSize, bool bigEndian);

}  // namespace kestab::elf
