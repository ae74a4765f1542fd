// The rows of a unit's line table, as libdwarf decodes them.
#pragma once

#include <cstdint>
#include <functional>

#include "dwarf/die.h"

namespace kestab::dw {

struct LineRow {
    // The row's file name as libdwarf gives it, valid during the visit;
    // null when it cannot be read.
    const char* file = nullptr;
    std::uint64_t address = 0;  // 0 when it cannot be read
    std::uint64_t line = 0;     // all ones when it cannot be read
};

// Visits the rows of the line table of the unit DIE `unit` in table order.
// A failed call is reported on standard error where it happens; a table
// that cannot be read has no rows.
void forEachLineRow(const Die& unit, const std::function<void(const LineRow&)>& visit);

}  // namespace kestab::dw
