// The rows of the units' line tables, as libdwarf decodes them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "dwarf/die.h"

namespace kestab::dw {

struct LineRow {
    // The row's file name as libdwarf gives it, valid during the visit;
    // null when it cannot be read.
    const char* file = nullptr;
    std::uint32_t address = 0;  // low 32 bits; 0 when it cannot be read
    std::uint32_t line = 0;     // low 32 bits; all ones when it cannot be read
};

// The line tables of the units, each decoded once. The DIE walk needs a
// unit's table version, which only a full decoding gives; the rows are kept
// from then on in a compact form for the line-table pass, which comes
// later and so need not decode the table again.
class LineTables {
public:
    // Decodes the line table of the unit DIE `unit` and keeps its rows.
    // Answers the table's version, 0 when it cannot be read. Failed calls
    // are not reported now: their messages are held for forEachRow.
    Dwarf_Unsigned decode(const Die& unit);
    // The version of the unit's line table: the one kept when it was
    // decoded, else decode's answer.
    Dwarf_Unsigned version(const Die& unit);

    // Prints the messages held for `unit` on standard error, then visits
    // its rows in table order and forgets them. A unit that was never
    // decoded is decoded first.
    void forEachRow(const Die& unit, const std::function<void(const LineRow&)>& visit);

private:
    struct HeldMessage {
        const Report* report;
        Answer answer;
    };
    static constexpr std::uint32_t kNoName = UINT32_MAX;
    struct Row {
        std::uint32_t name;  // index into Unit::names, or kNoName
        std::uint32_t address;
        std::uint32_t line;
    };
    struct Unit {
        Dwarf_Unsigned version = 0;
        std::vector<std::string> names;
        std::vector<Row> rows;
        std::vector<HeldMessage> messages;
    };

    static Unit decodeUnit(const Die& unit);

    std::unordered_map<Dwarf_Off, Unit> units_;
};

}  // namespace kestab::dw
