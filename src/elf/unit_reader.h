// .debug_info read just far enough to walk its DIEs without libdwarf: unit
// headers, abbreviation tables and the size of every attribute value, all
// bounds-checked. For the checks made before libdwarf sees an image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "elf/byte_reader.h"

namespace kestab::elf {

// The attribute forms the checks look at.
inline constexpr std::uint64_t kFormData4 = 0x06;
inline constexpr std::uint64_t kFormData8 = 0x07;
inline constexpr std::uint64_t kFormSecOffset = 0x17;
inline constexpr std::uint64_t kFormLoclistx = 0x22;

struct Unit {
    std::uint64_t version = 0;
    std::uint64_t offsetSize = 4;
    std::uint64_t addressSize = 4;
    std::uint64_t abbrevOffset = 0;
    std::size_t diesStart = 0;  // offsets in .debug_info
    std::size_t end = 0;        // 0 when the unit's length could not be read
};

struct AbbrevAttribute {
    std::uint64_t name = 0;
    std::uint64_t form = 0;
};

// One abbreviation table, in two arrays instead of an allocation per
// abbreviation: a unit's walk reads one table for every unit of an image.
class AbbrevTable {
public:
    // Adds an attribute to the abbreviation being read.
    void addAttribute(const AbbrevAttribute& declared) { attributes_.push_back(declared); }
    // Ends the abbreviation being read as `code`, with the attributes added
    // since the last one ended; a code given twice keeps its first ones.
    void endAbbreviation(std::uint64_t code);
    // Called once all abbreviations are in, before the first find().
    void finish();

    // The attributes of `code`; false when the table has no such code.
    bool find(std::uint64_t code, std::span<const AbbrevAttribute>& attributes) const;

private:
    struct Entry {
        std::uint64_t code;
        std::size_t first;  // in attributes_
        std::size_t count;
    };
    std::vector<Entry> entries_;  // by code once the table is complete
    std::vector<AbbrevAttribute> attributes_;
    bool increasing_ = true;  // codes came in rising order
};

// The header of the unit at the reader's position (version 2 to 5, address
// size 1 to 8), the reader left at its first DIE. False when it cannot be
// read or is of a kind not known here; `end` is then set when the unit's
// length could be read.
bool readUnitHeader(ByteReader& in, Unit& unit);

// The abbreviation table at `offset` of .debug_abbrev; false when it does
// not end inside the section.
bool readAbbrevTable(std::span<const unsigned char> abbrev, std::uint64_t offset, bool bigEndian, AbbrevTable& table);

// The bytes a value of `form` takes in `unit` when that does not depend on
// the value itself; false for the other forms (and DW_FORM_indirect).
bool fixedValueSize(std::uint64_t form, const Unit& unit, std::uint64_t& size);

// Reads one attribute value of `form` (an indirect form is replaced by the
// one it names); `value` holds it where it is a number of at most 8 bytes.
// False for a form not known here or a value past the end.
bool readValue(ByteReader& in, std::uint64_t& form, const Unit& unit, std::uint64_t& value);

}  // namespace kestab::elf
