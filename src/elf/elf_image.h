// A bounds-checked reader of an ELF image held in memory: the file kind, the
// 32-bit header, the section headers in index order, section names and
// section contents. Plain C++ over the file's bytes, so it builds wherever
// the tool does, with or without libelf.
//
// It gives the answers libelf (elfutils, read mode) gives for the questions
// the reading passes ask before libdwarf opens an image, on sound and on
// damaged images alike: a field that points outside the file reads as "not
// there", never past the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestab::elf {

// zlib's one-shot inflate, which must give exactly `declared` bytes; a
// declared size above 256 MiB is refused rather than allocated.
bool inflateExact(std::span<const unsigned char> in, std::uint64_t declared, std::vector<unsigned char>& out);

// What the first bytes say the file is (libelf's elf_kind).
enum class Kind { None, Archive, Elf };

// One 32-bit section header, in host byte order.
struct Section {
    std::uint32_t index = 0;
    std::uint32_t name = 0;
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    std::uint32_t addr = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t link = 0;
    std::uint32_t info = 0;
    std::uint32_t addralign = 0;
    std::uint32_t entsize = 0;
};

class ElfImage {
public:
    explicit ElfImage(std::vector<unsigned char> bytes);

    Kind kind() const { return kind_; }
    // True for an ELF file of class 32 (libelf's elf32_getehdr succeeds).
    bool has32BitHeader() const { return kind_ == Kind::Elf && is32_; }
    bool bigEndian() const { return bigEndian_; }
    std::uint16_t machine() const { return machine_; }

    // Entries of the section header table, including the null section 0;
    // 0 when there is no 32-bit header or the table does not fit in the file.
    std::uint32_t sectionCount() const { return sectionCount_; }
    // The header of section `index`, or nothing past the table.
    std::optional<Section> section(std::uint32_t index) const;
    // e_shstrndx as written in the header.
    std::uint16_t nameTableIndex() const { return nameTableIndex_; }
    // The section-name table's index with the extended form (SHN_XINDEX,
    // the index in section 0's sh_link) resolved; nothing without sections.
    std::optional<std::uint32_t> resolvedNameTableIndex() const;

    // The NUL-terminated text at `offset` in string table `tableIndex`
    // (libelf's elf_strptr): nothing when that section is not a string
    // table, cannot be read, or holds no NUL from `offset` to its end.
    std::optional<std::string_view> stringAt(std::uint32_t tableIndex, std::uint32_t offset) const;
    // The section's name through e_shstrndx as written.
    std::optional<std::string_view> sectionName(const Section& section) const;
    // The first section from index 1 up, SHT_NULL ones skipped, whose name
    // is exactly `name`. A name that cannot be read ends the search.
    std::optional<Section> findSection(std::string_view name) const;

    // The section's bytes as stored (libelf's elf_rawdata): empty for an
    // empty section; nothing for SHT_NOBITS with a size, for a size that is
    // not a whole number of the type's entries, or past the end of the file.
    std::optional<std::span<const unsigned char>> rawContents(const Section& section) const;
    // The contents as a DWARF reader sees them: SHF_COMPRESSED sections
    // (zlib) and GNU ".zdebug" ones ("ZLIB" and a big-endian size) are
    // inflated to exactly their declared size. False when that fails.
    bool contents(const Section& section, std::string_view name, std::vector<unsigned char>& out) const;

private:
    void readHeader();
    std::uint32_t countSections(std::uint32_t shoff, std::uint16_t shnum) const;
    bool fits(std::uint64_t offset, std::uint64_t size) const;
    std::uint32_t word(std::size_t at) const;
    std::uint16_t half(std::size_t at) const;
    std::optional<std::span<const unsigned char>> nameTableBytes(const Section& table) const;

    std::vector<unsigned char> bytes_;
    Kind kind_ = Kind::None;
    bool is32_ = false;
    bool bigEndian_ = false;
    std::uint16_t machine_ = 0;
    std::uint32_t sectionTable_ = 0;
    std::uint32_t sectionCount_ = 0;
    std::uint16_t nameTableIndex_ = 0;
    // Compressed string tables, inflated on first use, by section index.
    mutable std::map<std::uint32_t, std::vector<unsigned char>> inflatedTables_;
};

}  // namespace kestab::elf
