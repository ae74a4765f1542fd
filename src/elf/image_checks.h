// The checks made on the input image before libdwarf is opened on it,
// answered by the ELF reader alone (no libelf).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "elf/elf_image.h"

namespace kestab::elf {

// Whether `data` is a run of well-formed DWARF 5 range-list or
// location-list unit headers, which share one layout (unit length, 32-bit
// or 0xffffffff and a 64-bit one; version 5; address size 4 or 8; segment
// selector size; offset entry count, the offsets inside the unit), that
// ends exactly at its end.
bool listUnitsWellFormed(std::span<const unsigned char> data, bool bigEndian);

// 1 when a section ".asd" exists, else 2 for ".debug", else 3 for
// ".debug_info", else 0; the names are tried in this order and the first
// one found decides. A section name that cannot be read ends each search.
int debugFormatMarker(const ElfImage& image);

// A section's contents as a DWARF reader sees them: a view of the bytes
// where they lie (they must outlive the guard), or an inflated copy that
// it holds itself.
class SectionBytes {
public:
    static SectionBytes view(std::span<const unsigned char> bytes) { return SectionBytes(bytes, {}); }
    static SectionBytes own(std::vector<unsigned char> bytes) {
        const std::span<const unsigned char> at(bytes);
        return SectionBytes(at, std::move(bytes));  // moving keeps the vector's buffer where it is
    }
    SectionBytes(SectionBytes&&) = default;
    SectionBytes& operator=(SectionBytes&&) = default;
    SectionBytes(const SectionBytes&) = delete;
    SectionBytes& operator=(const SectionBytes&) = delete;

    std::span<const unsigned char> bytes() const { return bytes_; }

private:
    SectionBytes(std::span<const unsigned char> bytes, std::vector<unsigned char> owned)
        : bytes_(bytes), owned_(std::move(owned)) {}
    std::span<const unsigned char> bytes_;
    std::vector<unsigned char> owned_;
};

// The sections whose damage libdwarf 20210528 does not survive, taken in as
// a walk over the image's sections meets them (the ELF reader's walk here,
// libelf's in section_guard.h): range and location lists, where damaged
// unit headers make libdwarf free the same block twice, and location lists
// whose entries run past their section (location_list_guard.h), which libdwarf
// reads beyond. Section names are taken with ".debug_" or, compressed the
// GNU way, ".zdebug_".
class LibdwarfGuard {
public:
    explicit LibdwarfGuard(bool bigEndian) : bigEndian_(bigEndian) {}

    // Whether the guard needs the contents of section `name`.
    static bool reads(std::string_view name);
    // Takes section `name` with its contents as a DWARF reader sees them,
    // or null when those cannot be read. False when the section is damaged:
    // .debug_rnglists or .debug_loclists that cannot be read or whose unit
    // headers are not well formed. Of two sections of one name, the first
    // one's lists are followed.
    bool take(std::string_view name, std::optional<SectionBytes> contents);
    // Once every section was taken: the name of the location-list section
    // with a list that runs past it, or the empty text.
    std::string damagedLists() const;

private:
    struct Kept {
        std::string name;
        std::optional<SectionBytes> contents;
    };
    bool bigEndian_;
    std::optional<Kept> info_, abbrev_, loc_, loclists_;
};

// The name of the first section the guard finds damaged, or the empty text.
std::string damagedLibdwarfSection(const ElfImage& image);

// Whether some allocated section of a size above 0 starts at address 0.
bool allocatedSectionAtZero(const ElfImage& image);

// The contents of the section `name` (".debug_...") or, when there is none,
// of its GNU-compressed form (".zdebug_..."), found as findSection finds
// them, as a DWARF reader sees them (inflated), and the image's byte order.
// False when neither is there or the contents cannot be read.
bool debugSectionContents(const ElfImage& image, std::string_view name, std::vector<unsigned char>& contents,
                          bool& bigEndian);

}  // namespace kestab::elf
