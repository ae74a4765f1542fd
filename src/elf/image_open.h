// The checks that decide whether the input image is handed to libdwarf:
// an ELF file, with DWARF, and without the damage that libdwarf cannot
// survive. Through libelf where the build has it (the handle is kept for
// libdwarf 20210528, which reads through it), else through the ELF reader,
// with the same answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "elf/handle.h"

namespace kestab::elf {

class ElfImage;

// Why an image is refused.
enum class Refusal { none, libraryVersion, begin, notElf, notDwarf, damaged };

struct ImageCheck {
    Refusal refusal = Refusal::none;
    std::string damagedSection;  // with Refusal::damaged
    // Some allocated section of a size above 0 starts at address 0.
    bool sectionAtZero = false;
    // The bytes of the DWARF sections, where libelf reads the image; 0
    // where it is not known.
    std::uint64_t debugBytes = 0;
#ifndef KESTAB_HAVE_LIBELF
    // The image as read, kept for the sections read later
    // (image_checks.h's debugSectionContents).
    std::shared_ptr<const ElfImage> image;
#endif
};

// Told the bytes of the image's DWARF sections (".debug_..." and
// ".zdebug_...") once the image is known to have DWARF, before any section
// is read (where libelf reads the image; the ELF reader reads it whole
// first).
using BeforeSectionsAreRead = void (*)(std::uint64_t debugSectionBytes);

#ifdef KESTAB_HAVE_LIBELF

// Opens the image on `fd` into `handle` (kept whatever the answer) and checks it.
ImageCheck checkImage(int fd, ElfHandle& handle, BeforeSectionsAreRead beforeSectionsAreRead = nullptr);

// 1 for ".asd", 2 for ".debug", 3 for ".debug_info", 0 for none: the first
// name found decides (image_checks.h answers the same without libelf).
int debugFormatMarker(Elf* elf);

// Whether some allocated section of a size above 0 starts at address 0.
bool allocatedSectionAtZero(Elf* elf);
#else
// Reads the image on `fd` whole and checks it.
ImageCheck checkImage(int fd);

#endif

}  // namespace kestab::elf
