#include "symbols/line_table_pass.h"

#include <string>

#include "dwarf/reader_handles.h"
#include "dwarf/source_paths.h"

namespace kestab {

namespace {

// Appends the rows of one unit's line table whose file is in the file table.
void collectCuAddressLines(dw::LineTables& tables, const dw::Die& unit, MapModel& model) {
    // Rows name the same few files again and again: remember the file
    // number of the last name seen, as libdwarf gave it.
    std::string lastName;
    std::int32_t lastIndex = -1;
    bool haveLast = false;
    tables.forEachRow(unit, [&](const dw::LineRow& row) {
        // A row without a readable name matches no file.
        if (row.file == nullptr) return;
        if (!haveLast || lastName != row.file) {
            lastName = row.file;
            lastIndex = model.files.find(normalizePath(lastName));
            haveLast = true;
        }
        if (lastIndex < 0) return;
        model.lineRows.push_back({static_cast<std::uint32_t>(row.address), static_cast<std::uint32_t>(lastIndex),
                                  static_cast<std::uint32_t>(row.line)});
    });
}

}  // namespace

bool collectAddressLines(DebugReader& reader, MapModel& model) {
    DebugReader::Handles& handles = reader.handles();
    return dw::forEachUnit(handles.dbg.get(), [&](const dw::Die& unit) {
        collectCuAddressLines(handles.lineTables, unit, model);
        return true;
    });
}

}  // namespace kestab
