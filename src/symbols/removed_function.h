// Telling the DWARF of a function whose code the linker removed
// (-ffunction-sections with --gc-sections) from a real function.
#pragma once

#include <cstdint>

namespace kestab::dw {

// A subprogram's DW_AT_low_pc and the end of its code: DW_AT_high_pc as an
// address (hasHigh), or low_pc plus DW_AT_high_pc when that is a length
// (hasHigh and highIsLength, DWARF 4 and later).
struct CodeRange {
    bool hasLow = false;
    bool hasHigh = false;
    bool highIsLength = false;
    std::uint64_t low = 0;
    std::uint64_t end = 0;
};

// Removed: the end is present and not above the start (DWARF 2/3 write
// low 0, high 0), or the start is 0, the end is not given as an address
// (DWARF 4/5 give a length, so the end of removed code is not 0 there) and
// no allocated section of the image starts at 0 (found when the image is
// opened, elf/image_open.h). A function without addresses (a declaration,
// an abstract instance) is not removed; nor is one at 0 whose high address
// is given and above 0, as DWARF 2/3 images have always shown it.
bool isRemovedFunction(const CodeRange& range, bool sectionAtZero);

}  // namespace kestab::dw
