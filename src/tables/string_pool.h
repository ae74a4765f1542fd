// The string pool: every name the map tables keep lives in one pool and is
// referred to by its byte offset.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

private:
    std::vector<char> bytes_;
};

}  // namespace kestab
