#include "elf/section_guard.h"

#include <gelf.h>

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "elf/byte_reader.h"
#include "elf/elf_image.h"
#include "elf/image_checks.h"

namespace kestab::elf {

namespace {

// The section's contents as libdwarf would see them after decompression.
bool sectionContents(Elf_Scn* section, const GElf_Shdr& header, bool gnuCompressed, bool bigEndian,
                     std::vector<unsigned char>& contents) {
    if (header.sh_size == 0) {
        contents.clear();
        return true;
    }
    Elf_Data* data = elf_rawdata(section, nullptr);
    if (data == nullptr || data->d_buf == nullptr) return false;
    const auto* bytes = static_cast<const unsigned char*>(data->d_buf);
    const std::size_t size = data->d_size;
    if ((header.sh_flags & SHF_COMPRESSED) != 0) {
        // Elf32_Chdr: type, uncompressed size, alignment.
        ByteReader in({bytes, size}, bigEndian);
        std::uint64_t type = 0;
        std::uint64_t declared = 0;
        std::uint64_t alignment = 0;
        if (!in.read(4, type) || !in.read(4, declared) || !in.read(4, alignment)) return false;
        if (type != ELFCOMPRESS_ZLIB) return false;
        return inflateExact({bytes + 12, size - 12}, declared, contents);
    }
    if (gnuCompressed) {
        // "ZLIB" and the uncompressed size, 8 bytes big-endian.
        if (size < 12 || std::memcmp(bytes, "ZLIB", 4) != 0) return false;
        ByteReader in({bytes + 4, 8}, true);
        std::uint64_t declared = 0;
        in.read(8, declared);
        return inflateExact({bytes + 12, size - 12}, declared, contents);
    }
    contents.assign(bytes, bytes + size);
    return true;
}

}  // namespace

std::string damagedLibdwarfSection(Elf* elf) {
    GElf_Ehdr elfHeader;
    if (gelf_getehdr(elf, &elfHeader) == nullptr) return {};
    const bool bigEndian = elfHeader.e_ident[EI_DATA] == ELFDATA2MSB;
    std::size_t namesIndex = 0;
    if (elf_getshdrstrndx(elf, &namesIndex) != 0) return {};
    Elf_Scn* section = nullptr;
    std::vector<unsigned char> contents;
    while ((section = elf_nextscn(elf, section)) != nullptr) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) == nullptr) continue;
        const char* rawName = elf_strptr(elf, namesIndex, header.sh_name);
        if (rawName == nullptr) continue;
        const std::string_view name(rawName);
        const bool gnuCompressed = name == ".zdebug_rnglists";
        if (name != ".debug_rnglists" && !gnuCompressed) continue;
        if (!sectionContents(section, header, gnuCompressed, bigEndian, contents) ||
            !rangeListUnitsWellFormed(contents, bigEndian))
            return std::string(name);
    }
    return {};
}

}  // namespace kestab::elf
