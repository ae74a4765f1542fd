#include "elf/section_guard.h"

#include <gelf.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "elf/byte_reader.h"
#include "elf/elf_image.h"
#include "elf/image_checks.h"

namespace kestab::elf {

namespace {

// The section's contents as libdwarf would see them after decompression:
// a view of libelf's copy of the section (which lives as long as the Elf
// handle), or the inflated bytes.
std::optional<SectionBytes> sectionBytes(Elf_Scn* section, const GElf_Shdr& header, bool gnuCompressed,
                                         bool bigEndian) {
    if (header.sh_size == 0) return SectionBytes::view({});
    Elf_Data* data = elf_rawdata(section, nullptr);
    if (data == nullptr || data->d_buf == nullptr) return std::nullopt;
    const auto* bytes = static_cast<const unsigned char*>(data->d_buf);
    const std::size_t size = data->d_size;
    std::vector<unsigned char> inflated;
    if ((header.sh_flags & SHF_COMPRESSED) != 0) {
        // Elf32_Chdr: type, uncompressed size, alignment.
        ByteReader in({bytes, size}, bigEndian);
        std::uint64_t type = 0;
        std::uint64_t declared = 0;
        std::uint64_t alignment = 0;
        if (!in.read(4, type) || !in.read(4, declared) || !in.read(4, alignment)) return std::nullopt;
        if (type != ELFCOMPRESS_ZLIB) return std::nullopt;
        if (!inflateExact({bytes + 12, size - 12}, declared, inflated)) return std::nullopt;
        return SectionBytes::own(std::move(inflated));
    }
    if (gnuCompressed) {
        // "ZLIB" and the uncompressed size, 8 bytes big-endian.
        if (size < 12 || std::memcmp(bytes, "ZLIB", 4) != 0) return std::nullopt;
        ByteReader in({bytes + 4, 8}, true);
        std::uint64_t declared = 0;
        in.read(8, declared);
        if (!inflateExact({bytes + 12, size - 12}, declared, inflated)) return std::nullopt;
        return SectionBytes::own(std::move(inflated));
    }
    return SectionBytes::view({bytes, size});
}

bool sectionContents(Elf_Scn* section, const GElf_Shdr& header, bool gnuCompressed, bool bigEndian,
                     std::vector<unsigned char>& contents) {
    const std::optional<SectionBytes> read = sectionBytes(section, header, gnuCompressed, bigEndian);
    if (!read) return false;
    contents.assign(read->bytes().begin(), read->bytes().end());
    return true;
}

// Calls `visit(section, header, name)` for each section whose header and
// name can be read, in index order, until it answers true.
template <class Visit>
void visitSections(Elf* elf, Visit&& visit) {
    std::size_t namesIndex = 0;
    if (elf_getshdrstrndx(elf, &namesIndex) != 0) return;
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(elf, section)) != nullptr) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr) continue;
        const char* rawName = elf_strptr(elf, namesIndex, header.sh_name);
        if (rawName != nullptr && visit(section, header, std::string_view(rawName))) return;
    }
}

bool isBigEndian(Elf* elf, bool& bigEndian) {
    GElf_Ehdr elfHeader;
    if (gelf_getehdr(elf, &elfHeader) == nullptr) return false;
    bigEndian = elfHeader.e_ident[EI_DATA] == ELFDATA2MSB;
    return true;
}

}  // namespace

bool debugSectionContents(Elf* elf, std::string_view name, std::vector<unsigned char>& contents, bool& bigEndian) {
    if (elf == nullptr || !name.starts_with(".debug") || !isBigEndian(elf, bigEndian)) return false;
    std::size_t namesIndex = 0;
    if (elf32_getehdr(elf) == nullptr || elf_getshdrstrndx(elf, &namesIndex) != 0) return false;
    const std::string gnuName = ".z" + std::string(name.substr(1));
    for (const std::string_view wanted : {name, std::string_view(gnuName)}) {
        // As the ELF reader's findSection: null sections skipped, a name
        // that cannot be read ends the search.
        Elf_Scn* section = nullptr;
        while ((section = elf_nextscn(elf, section)) != nullptr) {
            GElf_Shdr header;
            if (gelf_getshdr(section, &header) == nullptr) break;
            if (header.sh_type == SHT_NULL) continue;
            const char* sectionName = elf_strptr(elf, namesIndex, header.sh_name);
            if (sectionName == nullptr) break;
            if (sectionName == wanted) return sectionContents(section, header, wanted == gnuName, bigEndian, contents);
        }
    }
    return false;
}

std::string damagedLibdwarfSection(Elf* elf) {
    bool bigEndian = false;
    if (!isBigEndian(elf, bigEndian)) return {};
    LibdwarfGuard guard(bigEndian);
    std::string damaged;
    visitSections(elf, [&](Elf_Scn* section, const GElf_Shdr& header, std::string_view name) {
        if (!LibdwarfGuard::reads(name)) return false;
        if (guard.take(name, sectionBytes(section, header, name.starts_with(".zdebug_"), bigEndian))) return false;
        damaged = name;
        return true;
    });
    return damaged.empty() ? guard.damagedLists() : damaged;
}

}  // namespace kestab::elf
