// The checks made on the input image before libdwarf is opened on it,
// answered by the ELF reader alone (no libelf).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "elf/elf_image.h"

namespace kestab::elf {

// Whether `data` is a run of well-formed DWARF 5 range-list unit headers
// (unit length, 32-bit or 0xffffffff and a 64-bit one; version 5; address
// size 4 or 8; segment selector size; offset entry count, the offsets inside
// the unit) that ends exactly at its end.
bool rangeListUnitsWellFormed(std::span<const unsigned char> data, bool bigEndian);

// 1 when a section ".asd" exists, else 2 for ".debug", else 3 for
// ".debug_info", else 0; the names are tried in this order and the first
// one found decides. A section name that cannot be read ends each search.
int debugFormatMarker(const ElfImage& image);

// The name of the first .debug_rnglists or .zdebug_rnglists section
// (compressed or not) that is not a run of well-formed DWARF 5 range-list
// unit headers ending exactly at the section's end, or the empty text.
// libdwarf 20210528 frees the same block twice on such damage.
std::string damagedRangeListSection(const ElfImage& image);

// Whether some allocated section of a size above 0 starts at address 0.
bool allocatedSectionAtZero(const ElfImage& image);

// The contents of the section `name` (".debug_...") or, when there is none,
// of its GNU-compressed form (".zdebug_..."), found as findSection finds
// them, as a DWARF reader sees them (inflated), and the image's byte order.
// False when neither is there or the contents cannot be read.
bool debugSectionContents(const ElfImage& image, std::string_view name, std::vector<unsigned char>& contents,
                          bool& bigEndian);

}  // namespace kestab::elf
