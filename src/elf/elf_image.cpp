#include "elf/elf_image.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace kestab::elf {

namespace {

constexpr std::size_t kIdentSize = 16;
constexpr std::size_t kHeader32Size = 52;
constexpr std::size_t kHeader64Size = 64;
constexpr std::size_t kSection32Size = 40;
constexpr std::size_t kCompressionHeader32Size = 12;
constexpr std::uint16_t kExtendedIndex = 0xffff;  // SHN_XINDEX
constexpr std::uint32_t kTypeNull = 0;
constexpr std::uint32_t kTypeStringTable = 3;
constexpr std::uint32_t kTypeNoBits = 8;
constexpr std::uint32_t kFlagAlloc = 0x2;
constexpr std::uint32_t kFlagCompressed = 0x800;
constexpr std::uint32_t kCompressZlib = 1;
constexpr std::uint16_t kMachineAlpha = 0x9026;

// More than any debugging section of a real image holds; a larger declared
// size is refused rather than allocated.
constexpr std::uint64_t kMaxInflated = std::uint64_t{256} << 20;

}  // namespace

bool inflateExact(std::span<const unsigned char> in, std::uint64_t declared, std::vector<unsigned char>& out) {
    if (declared > kMaxInflated) return false;
    out.resize(static_cast<std::size_t>(declared));
    uLongf produced = static_cast<uLongf>(declared);
    if (::uncompress(out.data(), &produced, in.data(), static_cast<uLong>(in.size())) != Z_OK) return false;
    return produced == declared;
}

namespace {

std::uint64_t readBigEndian(std::span<const unsigned char> in) {
    std::uint64_t value = 0;
    for (const unsigned char byte : in) value = (value << 8) | byte;
    return value;
}

// The size of one entry that libelf expects a section of this type to be
// made of (1 for plain bytes); a size that is not a multiple of it cannot
// be read.
std::uint32_t entrySize(std::uint32_t type, std::uint16_t machine) {
    switch (type) {
        case 2:
        case 11:
            return 16;  // symbol tables
        case 4:
            return 12;  // relocations with addend
        case 5:
            return machine == kMachineAlpha ? 8 : 4;  // hash table
        case 6:
        case 9:
            return 8;  // dynamic section, relocations
        case 14:
        case 15:
        case 16:
        case 17:
        case 18:
            return 4;  // arrays, group, extended indices
        case 0x6ffffff6:
            return 4;  // GNU hash table
        case 0x6ffffff7:
            return 20;  // prelink library list
        case 0x6ffffffa:
            return 24;  // move table
        case 0x6ffffffc:
            return 4;  // symbol information
        case 0x6ffffffe:
            return 16;  // needed versions
        case 0x6fffffff:
            return 2;  // symbol versions
        default:
            return 1;
    }
}

}  // namespace

ElfImage::ElfImage(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) { readHeader(); }

bool ElfImage::fits(std::uint64_t offset, std::uint64_t size) const {
    return offset <= bytes_.size() && bytes_.size() - offset >= size;
}

std::uint32_t ElfImage::word(std::size_t at) const {
    const unsigned char* p = bytes_.data() + at;
    if (bigEndian_) return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

std::uint16_t ElfImage::half(std::size_t at) const {
    const unsigned char* p = bytes_.data() + at;
    return static_cast<std::uint16_t>(bigEndian_ ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
}

// The kind is decided from the first 64 bytes: an archive by its magic, an
// ELF file by its magic, a known class and byte order, version 1, and a
// whole header of its class; anything else is of no known kind.
void ElfImage::readHeader() {
    const std::size_t head = std::min<std::size_t>(bytes_.size(), kHeader64Size);
    if (head >= 8 && std::memcmp(bytes_.data(), "!<arch>\n", 8) == 0) {
        kind_ = Kind::Archive;
        return;
    }
    if (head < kIdentSize || std::memcmp(bytes_.data(), "\177ELF", 4) != 0) return;
    const unsigned char elfClass = bytes_[4];
    const unsigned char byteOrder = bytes_[5];
    if (elfClass < 1 || elfClass > 2 || byteOrder < 1 || byteOrder > 2 || bytes_[6] != 1) return;
    is32_ = elfClass == 1;
    if (head < (is32_ ? kHeader32Size : kHeader64Size)) return;
    kind_ = Kind::Elf;
    bigEndian_ = byteOrder == 2;
    if (!is32_) return;
    machine_ = half(18);
    sectionTable_ = word(32);
    nameTableIndex_ = half(50);
    sectionCount_ = countSections(sectionTable_, half(48));
}

// e_shnum, or for 0 with a table, the count kept in section 0's sh_size;
// 0 when the table does not fit in the file.
std::uint32_t ElfImage::countSections(std::uint32_t shoff, std::uint16_t shnum) const {
    std::uint64_t count = shnum;
    if (count == 0 && shoff != 0) {
        if (shoff >= bytes_.size() || bytes_.size() - shoff < kSection32Size) return 0;
        count = word(shoff + 20);
    }
    if (!fits(shoff, count * kSection32Size)) return 0;
    return static_cast<std::uint32_t>(count);
}

std::optional<Section> ElfImage::section(std::uint32_t index) const {
    if (index >= sectionCount_) return std::nullopt;
    const std::size_t at = sectionTable_ + std::size_t{index} * kSection32Size;
    Section s;
    s.index = index;
    s.name = word(at);
    s.type = word(at + 4);
    s.flags = word(at + 8);
    s.addr = word(at + 12);
    s.offset = word(at + 16);
    s.size = word(at + 20);
    s.link = word(at + 24);
    s.info = word(at + 28);
    s.addralign = word(at + 32);
    s.entsize = word(at + 36);
    return s;
}

std::optional<std::uint32_t> ElfImage::resolvedNameTableIndex() const {
    if (!has32BitHeader()) return std::nullopt;
    if (nameTableIndex_ != kExtendedIndex) return nameTableIndex_;
    const std::optional<Section> first = section(0);
    if (!first) return std::nullopt;
    return first->link;
}

std::optional<std::span<const unsigned char>> ElfImage::rawContents(const Section& s) const {
    if (s.size == 0) return std::span<const unsigned char>{};
    if (s.type == kTypeNoBits) return std::nullopt;
    const std::uint32_t entry = (s.flags & kFlagCompressed) != 0 ? 1 : entrySize(s.type, machine_);
    if (s.size % entry != 0 || !fits(s.offset, s.size)) return std::nullopt;
    return std::span<const unsigned char>(bytes_.data() + s.offset, s.size);
}

// The bytes of a string table. A compressed one is inflated once, under the
// rules libelf applies to it, and kept for later names.
std::optional<std::span<const unsigned char>> ElfImage::nameTableBytes(const Section& table) const {
    const auto raw = rawContents(table);
    if (!raw || (table.flags & kFlagCompressed) == 0) return raw;
    if (const auto kept = inflatedTables_.find(table.index); kept != inflatedTables_.end())
        return std::span<const unsigned char>(kept->second);
    if ((table.flags & kFlagAlloc) != 0 || raw->size() < kCompressionHeader32Size) return std::nullopt;
    if (word(table.offset) != kCompressZlib) return std::nullopt;
    const std::uint32_t declared = word(table.offset + 4);
    const auto packed = raw->subspan(kCompressionHeader32Size);
    std::vector<unsigned char> inflated;
    if (declared / 1032 > packed.size() || !inflateExact(packed, declared, inflated)) return std::nullopt;
    return std::span<const unsigned char>(inflatedTables_.emplace(table.index, std::move(inflated)).first->second);
}

std::optional<std::string_view> ElfImage::stringAt(std::uint32_t tableIndex, std::uint32_t offset) const {
    const std::optional<Section> table = section(tableIndex);
    if (!table || table->type != kTypeStringTable) return std::nullopt;
    const auto bytes = nameTableBytes(*table);
    if (!bytes || offset >= bytes->size()) return std::nullopt;
    const auto* start = reinterpret_cast<const char*>(bytes->data()) + offset;
    const auto* end = static_cast<const char*>(std::memchr(start, '\0', bytes->size() - offset));
    if (end == nullptr) return std::nullopt;
    return std::string_view(start, static_cast<std::size_t>(end - start));
}

std::optional<std::string_view> ElfImage::sectionName(const Section& s) const {
    return stringAt(nameTableIndex_, s.name);
}

std::optional<Section> ElfImage::findSection(std::string_view name) const {
    if (!has32BitHeader()) return std::nullopt;
    for (std::uint32_t index = 1; index < sectionCount_; ++index) {
        const Section s = *section(index);
        if (s.type == kTypeNull) continue;
        const std::optional<std::string_view> found = sectionName(s);
        if (!found) return std::nullopt;
        if (*found == name) return s;
    }
    return std::nullopt;
}

bool ElfImage::contents(const Section& s, std::string_view name, std::vector<unsigned char>& out) const {
    out.clear();
    if (s.size == 0) return true;
    const auto raw = rawContents(s);
    if (!raw || raw->data() == nullptr) return false;
    if ((s.flags & kFlagCompressed) != 0) {
        if (raw->size() < kCompressionHeader32Size || word(s.offset) != kCompressZlib) return false;
        return inflateExact(raw->subspan(kCompressionHeader32Size), word(s.offset + 4), out);
    }
    if (name.starts_with(".zdebug")) {
        if (raw->size() < 12 || std::memcmp(raw->data(), "ZLIB", 4) != 0) return false;
        return inflateExact(raw->subspan(12), readBigEndian(raw->subspan(4, 8)), out);
    }
    out.assign(raw->begin(), raw->end());
    return true;
}

}  // namespace kestab::elf
