// The string pool and the file table: every name the map tables keep lives
// in one pool and is referred to by its byte offset.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestab {

using PoolOffset = std::uint32_t;

// One block of names, NUL-terminated and back to back. The block starts with
// the classic 65,504 bytes reserved, so offsets are exactly those of a fixed
// block; past it, it grows instead of overflowing.
class StringPool {
public:
    static constexpr std::size_t kUnitSize = 16;
    static constexpr std::size_t kDefaultUnits = 4096;

    // Reserves (units - 2) * 16 bytes up front; false when that fails.
    bool reserve(std::size_t units);

    PoolOffset append(std::string_view text);

    // The whole name at `offset`, however long.
    std::string copyOut(PoolOffset offset) const;
    // A view of the same name, valid until the next append.
    std::string_view view(PoolOffset offset) const;

    std::size_t used() const { return bytes_.size(); }

private:
    std::vector<char> bytes_;
};

// The ordered list of file names; the index is the file number of the MAP
// file. Entry 0 is the listing file.
class FileTable {
public:
    explicit FileTable(StringPool& pool) : pool_(pool) {}

    void add(std::string_view name);
    // The lowest index whose name equals `name` byte for byte, or -1.
    std::int32_t find(std::string_view name) const;
    std::int32_t find(const char* name) const;

    std::uint32_t count() const { return static_cast<std::uint32_t>(entries_.size()); }
    std::string name(std::uint32_t index) const { return pool_.copyOut(entries_.at(index)); }

    // Gives entry 0 another name. The entries added before keep the numbers
    // they were given, whatever their names.
    void renameFirst(std::string_view name);

private:
    StringPool& pool_;
    std::vector<PoolOffset> entries_;
    std::unordered_map<std::string, std::uint32_t> firstIndex_;
};

}  // namespace kestab
