// The file table: the file names of the MAP file, kept in the string pool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tables/string_pool.h"

namespace kestab {

// The ordered list of file names; the index is the file number of the MAP
// file. Entry 0 is the listing file.
class FileTable {
public:
    explicit FileTable(StringPool& pool) : pool_(pool) {}

    void add(std::string_view name);
    // The lowest index whose name equals `name` byte for byte, or -1.
    std::int32_t find(std::string_view name) const;

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
