// The in-memory model between the reading passes and the MAP writer: the
// string pool and file table, the type, symbol and dimension tables and the
// counters of the summary line. One run owns one model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tables/file_table.h"
#include "tables/offset_map.h"
#include "tables/string_pool.h"

namespace kestab {

// Type kinds as the type table stores them; only kArray is ever tested.
enum TypeKind : std::int32_t { kTypeBasic = 0, kTypeArray = 1, kTypeStruct = 2 };

struct TypeEntry {
    std::uint32_t dieOffset = 0;  // offset of the type DIE in .debug_info
    PoolOffset name = 0;
    std::uint32_t byteSize = 0;
    std::int32_t encoding = 0;
    std::int32_t kind = kTypeBasic;
    std::vector<std::uint32_t> dims;
};

// Symbol flag bits (the T field of an S line).
namespace symflag {
constexpr std::uint32_t kSizeMask = 0x0003;
constexpr std::uint32_t kSize2 = 0x0001;
constexpr std::uint32_t kSize4 = 0x0002;
constexpr std::uint32_t kSize8 = 0x0003;
constexpr std::uint32_t kArray = 0x0008;
constexpr std::uint32_t kFunction = 0x0030;
constexpr std::uint32_t kUnsigned = 0x0100;
constexpr std::uint32_t kRegister = 0x0400;
constexpr std::uint32_t kNotExternal = 0x8000;
}  // namespace symflag

struct SymbolEntry {
    PoolOffset name = 0;
    std::uint32_t fileIndex = 0;  // full file number, never truncated
    std::uint32_t typeFlags = 0;
    std::uint32_t address = 0;
    // The "1:" field. A parameter or variable: the register number (0-31) of
    // its location, or -1 when the location names none (the location's
    // register byte 0xff widened with its sign, printed as ffffffff); a
    // variable with DW_AT_external set: 1 instead. A function: 0.
    std::int32_t aux1 = 0;
    // A function: DW_AT_high_pc - 2 (0 without one), printed as "2:". A
    // parameter or variable: 0, except for an array, where type resolution
    // puts the index in `dimensions` of its dimension count (the writer prints
    // that count as "2:" and the sizes after it).
    std::uint32_t aux2 = 0;
    std::uint32_t typeRef = 0;  // .debug_info offset of the type DIE, 0 for none
};

// Type rows in walk order, with indexes that answer exactly what a scan from
// row 0 upward would: the lowest row with a key, and the lowest array row.
class TypeTable {
public:
    // Appends a row and returns its index.
    std::uint32_t add(TypeEntry entry);
    void reserve(std::size_t rows) { rows_.reserve(rows); }
    // Appends a dimension to the newest row; ignored while the table is empty.
    void appendDimension(std::uint32_t value);

    std::uint32_t count() const { return static_cast<std::uint32_t>(rows_.size()); }
    const TypeEntry& row(std::uint32_t index) const { return rows_.at(index); }

    // Typedefs and qualifiers have no rows; each is recorded with the DIE its
    // DW_AT_type names, so lookups can see through them.
    void addAlias(std::uint32_t dieOffset, std::uint32_t targetOffset);

    // The lowest row whose key is `key`, following typedef/qualifier links
    // (a bounded number of steps) when no row has the key itself.
    std::optional<std::uint32_t> findRow(std::uint32_t key) const;
    // Whether a row with the (resolved) key and kind array exists.
    bool isArray(std::uint32_t key) const;
    // Copies byte size, encoding and dims of the found row; leaves the
    // outputs untouched when no row matches.
    void lookup(std::uint32_t key, std::uint32_t& byteSize, std::int32_t& encoding,
                std::vector<std::uint32_t>& dims) const;

    static constexpr int kMaxAliasSteps = 64;

private:
    // The key that has a row, reached from `key` through aliases.
    std::optional<std::uint32_t> resolveKey(std::uint32_t key) const;

    std::vector<TypeEntry> rows_;
    OffsetMap firstRow_;
    OffsetMap firstArrayRow_;
    OffsetMap aliases_;
};

// One row of a line table whose file is in the file table.
struct AddressRow {
    std::uint32_t address = 0;
    std::uint32_t file = 0;
    std::uint32_t line = 0;
};

struct MapModel {
    MapModel() : files(pool) {}
    MapModel(const MapModel&) = delete;
    MapModel& operator=(const MapModel&) = delete;

    StringPool pool;
    FileTable files;
    TypeTable types;
    std::vector<SymbolEntry> symbols;
    std::vector<std::uint32_t> dimensions;
    std::vector<AddressRow> lineRows;  // the line-table rows, in order
    std::uint32_t addressEntryCount = 0;

    // Room for the type and symbol rows that an image with `debugBytes`
    // bytes of DWARF sections is likely to give, so that the tables are not
    // copied while they grow: one of each per 64 bytes (the capacity image
    // gives one per 70 to 90), at most a million.
    void reserveForImage(std::uint64_t debugBytes);

    std::uint32_t fileCount() const { return files.count(); }
    std::uint32_t symbolCount() const { return static_cast<std::uint32_t>(symbols.size()); }
    std::uint32_t dimensionCount() const { return static_cast<std::uint32_t>(dimensions.size()); }
};

}  // namespace kestab
