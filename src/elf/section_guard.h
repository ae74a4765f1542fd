// Checks on sections that libdwarf parses by itself while it opens the first
// unit, where damage inside them takes libdwarf down rather than giving an
// error answer. Such an image is refused before libdwarf sees it.
#pragma once

#include <libelf.h>

#include <string>
#include <string_view>
#include <vector>

namespace kestab::elf {

// The name of the first section that fails its check, or the empty text
// when every checked section passes.
//
// Checked: .debug_rnglists and .zdebug_rnglists (compressed or not), whose
// damaged unit headers make libdwarf 20210528 free the same block twice.
// Each must be a run of well-formed DWARF 5 range-list unit headers that
// ends exactly at the section's end.
std::string damagedLibdwarfSection(Elf* elf);

// What image_checks.h's debugSectionContents answers, through libelf.
bool debugSectionContents(Elf* elf, std::string_view name, std::vector<unsigned char>& contents, bool& bigEndian);

}  // namespace kestab::elf
