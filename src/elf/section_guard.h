// Checks on sections whose damage takes libdwarf down (or makes it read
// outside its buffers) rather than giving an error answer, made through
// libelf. Such an image is refused before libdwarf sees it.
#pragma once

#include <libelf.h>

#include <string>
#include <string_view>
#include <vector>

namespace kestab::elf {

// The name of the first section that fails its check, or the empty text
// when every checked section passes: the checks of LibdwarfGuard
// (image_checks.h), on the sections as libelf reads them.
std::string damagedLibdwarfSection(Elf* elf);

// What image_checks.h's debugSectionContents answers, through libelf.
bool debugSectionContents(Elf* elf, std::string_view name, std::vector<unsigned char>& contents, bool& bigEndian);

}  // namespace kestab::elf
