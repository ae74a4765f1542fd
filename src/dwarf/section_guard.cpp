#include "dwarf/section_guard.h"

#include <gelf.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace kestab::dw {

namespace {

// More than any range-list section of a real image holds; a larger
// uncompressed size is refused rather than allocated.
constexpr std::uint64_t kMaxUncompressed = std::uint64_t{256} << 20;

class Reader {
public:
    Reader(const unsigned char* data, std::size_t size, bool bigEndian)
        : data_(data), size_(size), bigEndian_(bigEndian) {}

    std::size_t remaining() const { return size_ - pos_; }
    void skip(std::uint64_t n) { pos_ += static_cast<std::size_t>(n); }
    // Reads n bytes (n <= 8) in the image's byte order; false past the end.
    bool read(std::size_t n, std::uint64_t& value) {
        if (remaining() < n) return false;
        value = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = bigEndian_ ? pos_ + i : pos_ + n - 1 - i;
            value = (value << 8) | data_[at];
        }
        pos_ += n;
        return true;
    }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool bigEndian_;
};

// A run of DWARF 5 range-list unit headers: unit length (32-bit, or
// 0xffffffff and a 64-bit one), version 5, address size 4 or 8, segment
// selector size, offset entry count, the offsets inside the unit, and no
// byte after the last unit.
bool rangeListUnitsWellFormed(const unsigned char* data, std::size_t size, bool bigEndian) {
    Reader in(data, size, bigEndian);
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

bool inflate(const unsigned char* data, std::size_t size, std::uint64_t declared, std::vector<unsigned char>& out) {
    if (declared > kMaxUncompressed) return false;
    out.resize(static_cast<std::size_t>(declared));
    uLongf produced = static_cast<uLongf>(declared);
    if (::uncompress(out.data(), &produced, data, static_cast<uLong>(size)) != Z_OK) return false;
    return produced == declared;
}

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
        Reader in(bytes, size, bigEndian);
        std::uint64_t type = 0;
        std::uint64_t declared = 0;
        std::uint64_t alignment = 0;
        if (!in.read(4, type) || !in.read(4, declared) || !in.read(4, alignment)) return false;
        if (type != ELFCOMPRESS_ZLIB) return false;
        return inflate(bytes + 12, size - 12, declared, contents);
    }
    if (gnuCompressed) {
        // "ZLIB" and the uncompressed size, 8 bytes big-endian.
        if (size < 12 || std::memcmp(bytes, "ZLIB", 4) != 0) return false;
        Reader in(bytes + 4, 8, true);
        std::uint64_t declared = 0;
        in.read(8, declared);
        return inflate(bytes + 12, size - 12, declared, contents);
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
            !rangeListUnitsWellFormed(contents.data(), contents.size(), bigEndian))
            return std::string(name);
    }
    return {};
}

}  // namespace kestab::dw
