#include "elf/image_open.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "elf/elf_image.h"
#include "elf/image_checks.h"
#include "platform/process_setup.h"

#ifdef KESTAB_HAVE_LIBELF
#include <gelf.h>

#include "elf/section_guard.h"
#endif

namespace kestab::elf {

namespace {

ImageCheck refused(Refusal refusal, std::string damagedSection = {}) {
    ImageCheck check;
    check.refusal = refusal;
    check.damagedSection = std::move(damagedSection);
    return check;
}

ImageCheck accepted(bool sectionAtZero) {
    ImageCheck check;
    check.sectionAtZero = sectionAtZero;
    return check;
}

}  // namespace

#ifdef KESTAB_HAVE_LIBELF

namespace {

// Hands `visit` each section but the null ones, with its header and name,
// until `visit` answers true (that section is answered) or a header or a
// name cannot be read (null is answered).
template <class Visit>
Elf_Scn* findSection(Elf* elf, Visit visit) {
    const Elf32_Ehdr* header = elf32_getehdr(elf);
    if (header == nullptr) return nullptr;
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(elf, section)) != nullptr) {
        const Elf32_Shdr* sectionHeader = elf32_getshdr(section);
        if (sectionHeader == nullptr) return nullptr;
        if (sectionHeader->sh_type == SHT_NULL) continue;
        const char* sectionName = elf_strptr(elf, header->e_shstrndx, sectionHeader->sh_name);
        if (sectionName == nullptr) return nullptr;
        if (visit(*sectionHeader, sectionName)) return section;
    }
    return nullptr;
}

// The first section whose name is exactly `name`, or null.
Elf_Scn* findSectionByName(Elf* elf, const char* name) {
    return findSection(elf, [name](const Elf32_Shdr&, const char* sectionName) {
        return std::strcmp(sectionName, name) == 0;
    });
}

// The bytes that the DWARF sections take in the file on `fd`: those named
// ".debug_..." or, compressed the GNU way, ".zdebug_...". No section counts
// for more than lies in the file, nor do all of them together: a damaged
// header cannot make the run prepare for more than the file holds.
std::uint64_t debugSectionBytes(int fd, Elf* elf) {
    const std::optional<platform::FileIdentity> file = platform::fileIdentity(fd);
    if (!file) return 0;
    std::uint64_t bytes = 0;
    findSection(elf, [&](const Elf32_Shdr& header, const char* name) {
        const bool dwarf = std::strncmp(name, ".debug_", 7) == 0 || std::strncmp(name, ".zdebug_", 8) == 0;
        if (dwarf && header.sh_type != SHT_NOBITS && std::uint64_t{header.sh_offset} + header.sh_size <= file->size)
            bytes += header.sh_size;
        return false;
    });
    return std::min(bytes, file->size);
}

}  // namespace

int debugFormatMarker(Elf* elf) {
    if (findSectionByName(elf, ".asd") != nullptr) return 1;
    if (findSectionByName(elf, ".debug") != nullptr) return 2;
    if (findSectionByName(elf, ".debug_info") != nullptr) return 3;
    return 0;
}

bool allocatedSectionAtZero(Elf* elf) {
    if (elf == nullptr) return false;
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(elf, section)) != nullptr) {
        GElf_Shdr header;
        // A header that cannot be read might be the one at 0: keep functions there.
        if (gelf_getshdr(section, &header) == nullptr) return true;
        if ((header.sh_flags & SHF_ALLOC) != 0 && header.sh_addr == 0 && header.sh_size > 0) return true;
    }
    return false;
}

ImageCheck checkImage(int fd, ElfHandle& handle, BeforeSectionsAreRead beforeSectionsAreRead) {
    if (elf_version(EV_CURRENT) == EV_NONE) return refused(Refusal::libraryVersion);
    handle = ElfHandle(elf_begin(fd, ELF_C_READ, nullptr));
    if (!handle) return refused(Refusal::begin);
    if (elf_kind(handle.get()) != ELF_K_ELF) return refused(Refusal::notElf);
    if (debugFormatMarker(handle.get()) < 3) return refused(Refusal::notDwarf);
    const std::uint64_t debugBytes = debugSectionBytes(fd, handle.get());
    if (beforeSectionsAreRead != nullptr) beforeSectionsAreRead(debugBytes);
    std::string damaged = damagedLibdwarfSection(handle.get());
    if (!damaged.empty()) return refused(Refusal::damaged, std::move(damaged));
    ImageCheck check = accepted(allocatedSectionAtZero(handle.get()));
    check.debugBytes = debugBytes;
    return check;
}

#else

ImageCheck checkImage(int fd) {
    std::vector<unsigned char> bytes;
    if (!platform::readWholeFile(fd, bytes)) return refused(Refusal::begin);
    auto image = std::make_shared<const ElfImage>(std::move(bytes));
    if (image->kind() != Kind::Elf) return refused(Refusal::notElf);
    if (debugFormatMarker(*image) < 3) return refused(Refusal::notDwarf);
    std::string damaged = damagedLibdwarfSection(*image);
    if (!damaged.empty()) return refused(Refusal::damaged, std::move(damaged));
    ImageCheck check = accepted(allocatedSectionAtZero(*image));
    check.image = std::move(image);
    return check;
}

#endif

}  // namespace kestab::elf
