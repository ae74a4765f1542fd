#include "dwarf/line_table_pass.h"

#include <string>

#include "dwarf/die.h"
#include "dwarf/source_paths.h"

namespace kestab {

namespace {

using dw::Answer;
using dw::ask;
using dw::onError;

// Appends the rows of one unit's line table.
void collectCuAddressLines(Dwarf_Debug dbg, const dw::Die& unit, MapModel& model) {
    constexpr dw::Report kTableFailed = onError("ERROR: dwarf_srclines failed: (%ld). Error number: (%ld)");
    Dwarf_Unsigned version = 0;
    Dwarf_Small tableCount = 0;
    Dwarf_Line_Context rawContext = nullptr;
    const Answer table = ask(dbg, kTableFailed, [&](Dwarf_Error* err) {
        return dwarf_srclines_b(unit.get(), &version, &tableCount, &rawContext, err);
    });
    if (!table.ok()) return;
    const dw::LineContextOwner context(dbg, rawContext);

    Dwarf_Line* lines = nullptr;
    Dwarf_Signed lineCount = 0;
    const Answer rows = ask(dbg, kTableFailed, [&](Dwarf_Error* err) {
        return dwarf_srclines_from_linecontext(context.get(), &lines, &lineCount, err);
    });
    if (!rows.ok()) return;

    // Rows name the same few files again and again: remember the file
    // number of the last name seen, as libdwarf gave it.
    std::string lastName;
    std::int32_t lastIndex = -1;
    bool haveLast = false;
    for (Dwarf_Signed i = 0; i < lineCount; ++i) {
        const Dwarf_Line line = lines[i];
        char* rawName = nullptr;
        const Answer source = ask(dbg, onError("ERROR: dwarf_linesrc failed: (%ld). Error number: (%ld)"),
                                  [&](Dwarf_Error* err) { return dwarf_linesrc(line, &rawName, err); });
        const dw::StringOwner nameOwner(dbg, source.ok() ? rawName : nullptr);
        Dwarf_Addr address = 0;
        const Answer addressAnswer = ask(dbg, onError("ERROR: dwarf_lineaddr failed: (%ld). Error number: (%ld)"),
                                         [&](Dwarf_Error* err) { return dwarf_lineaddr(line, &address, err); });
        if (!addressAnswer.ok()) address = 0;
        Dwarf_Unsigned lineNumber = 0;
        const Answer numberAnswer =
            ask(dbg, onError("ERROR: dwarf_lineno failed: (%ld). Error number: (%ld)"),
                [&](Dwarf_Error* err) { return dwarf_lineno(line, &lineNumber, err); });
        if (!numberAnswer.ok()) lineNumber = static_cast<Dwarf_Unsigned>(-1);

        // A row without a readable name matches no file.
        if (!source.ok() || rawName == nullptr) continue;
        if (!haveLast || lastName != rawName) {
            lastName = rawName;
            lastIndex = model.files.find(normalizePath(lastName));
            haveLast = true;
        }
        if (lastIndex < 0) continue;
        model.lineRows.push_back({static_cast<std::uint32_t>(address), static_cast<std::uint32_t>(lastIndex),
                                  static_cast<std::uint32_t>(lineNumber)});
    }
}

}  // namespace

bool collectAddressLines(DebugReader& reader, MapModel& model) {
    Dwarf_Debug dbg = reader.handles().dbg.get();
    return dw::forEachUnit(dbg, [&](const dw::Die& unit) {
        collectCuAddressLines(dbg, unit, model);
        return true;
    });
}

}  // namespace kestab
