#include "elf/image_checks.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "elf/byte_reader.h"
#include "elf/location_list_guard.h"

namespace kestab::elf {

// A run of DWARF 5 range-list or location-list unit headers: unit length
// (32-bit, or 0xffffffff and a 64-bit one), version 5, address size 4 or 8,
// segment selector size, offset entry count, the offsets inside the unit,
// and no byte after the last unit.
bool listUnitsWellFormed(std::span<const unsigned char> data, bool bigEndian) {
    ByteReader in(data, bigEndian);
    while (in.remaining() > 0) {
        std::uint64_t length = 0;
        std::uint64_t offsetSize = 4;
        if (!in.read(4, length)) return false;
        if (length == 0xffffffffu) {
            offsetSize = 8;
            if (!in.read(8, length)) return false;
        } else if (length >= 0xfffffff0u) {
            return false;
        }
        if (length < 8 || length > in.remaining()) return false;
        std::uint64_t version = 0;
        std::uint64_t addressSize = 0;
        std::uint64_t selectorSize = 0;
        std::uint64_t offsetCount = 0;
        in.read(2, version);
        in.read(1, addressSize);
        in.read(1, selectorSize);
        in.read(4, offsetCount);
        if (version != 5 || (addressSize != 4 && addressSize != 8)) return false;
        if (offsetCount > (length - 8) / offsetSize) return false;
        in.skip(length - 8);
    }
    return true;
}

int debugFormatMarker(const ElfImage& image) {
    if (image.findSection(".asd")) return 1;
    if (image.findSection(".debug")) return 2;
    if (image.findSection(".debug_info")) return 3;
    return 0;
}

namespace {

// "rnglists" for ".debug_rnglists" and ".zdebug_rnglists"; empty for other
// names.
std::string_view debugKind(std::string_view name) {
    for (const std::string_view prefix : {".debug_", ".zdebug_"})
        if (name.starts_with(prefix)) return name.substr(prefix.size());
    return {};
}

}  // namespace

bool LibdwarfGuard::reads(std::string_view name) {
    const std::string_view kind = debugKind(name);
    return kind == "rnglists" || kind == "loclists" || kind == "loc" || kind == "info" || kind == "abbrev";
}

bool LibdwarfGuard::take(std::string_view name, std::optional<SectionBytes> contents) {
    const std::string_view kind = debugKind(name);
    if ((kind == "rnglists" || kind == "loclists") &&
        (!contents || !listUnitsWellFormed(contents->bytes(), bigEndian_)))
        return false;
    std::optional<Kept>* slot = kind == "info" ? &info_ : kind == "abbrev" ? &abbrev_ : kind == "loc" ? &loc_
                               : kind == "loclists" ? &loclists_ : nullptr;
    if (slot != nullptr && !*slot) *slot = Kept{std::string(name), std::move(contents)};
    return true;
}

std::string LibdwarfGuard::damagedLists() const {
    const auto bytes = [](const std::optional<Kept>& kept) -> std::optional<std::span<const unsigned char>> {
        if (!kept || !kept->contents) return std::nullopt;
        return kept->contents->bytes();
    };
    const LocationSections sections{bytes(info_), bytes(abbrev_), bytes(loc_), bytes(loclists_), bigEndian_};
    switch (listRunningPastItsSection(sections)) {
        case ListSection::loc: return loc_->name;
        case ListSection::loclists: return loclists_->name;
        case ListSection::none: break;
    }
    return {};
}

// Unlike the search by name, a name that cannot be read only skips its
// section here.
std::string damagedLibdwarfSection(const ElfImage& image) {
    const std::optional<std::uint32_t> namesIndex = image.resolvedNameTableIndex();
    if (!namesIndex) return {};
    LibdwarfGuard guard(image.bigEndian());
    std::vector<unsigned char> contents;
    for (std::uint32_t index = 1; index < image.sectionCount(); ++index) {
        const Section section = *image.section(index);
        const std::optional<std::string_view> name = image.stringAt(*namesIndex, section.name);
        if (!name || !LibdwarfGuard::reads(*name)) continue;
        const bool readable = image.contents(section, *name, contents);
        if (!guard.take(*name, readable ? std::optional(SectionBytes::own(std::move(contents))) : std::nullopt))
            return std::string(*name);
    }
    return guard.damagedLists();
}

bool allocatedSectionAtZero(const ElfImage& image) {
    constexpr std::uint32_t kAllocated = 0x2;  // SHF_ALLOC
    for (std::uint32_t index = 1; index < image.sectionCount(); ++index) {
        const Section section = *image.section(index);
        if ((section.flags & kAllocated) != 0 && section.addr == 0 && section.size > 0) return true;
    }
    return false;
}

bool debugSectionContents(const ElfImage& image, std::string_view name, std::vector<unsigned char>& contents,
                          bool& bigEndian) {
    if (!image.has32BitHeader() || !name.starts_with(".debug")) return false;
    bigEndian = image.bigEndian();
    const std::string gnuName = ".z" + std::string(name.substr(1));
    for (const std::string_view wanted : {name, std::string_view(gnuName)}) {
        if (const std::optional<Section> section = image.findSection(wanted))
            return image.contents(*section, wanted, contents);
    }
    return false;
}

}  // namespace kestab::elf
