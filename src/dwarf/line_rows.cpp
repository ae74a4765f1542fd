#include "dwarf/line_rows.h"

namespace kestab::dw {

void forEachLineRow(const Die& unit, const std::function<void(const LineRow&)>& visit) {
    constexpr Report kTableFailed = onError("ERROR: dwarf_srclines failed: (%ld). Error number: (%ld)");
    Dwarf_Debug dbg = unit.debug();
    Dwarf_Unsigned version = 0;
    Dwarf_Small tableCount = 0;
    Dwarf_Line_Context rawContext = nullptr;
    const Answer table = ask(dbg, kTableFailed, [&](Dwarf_Error* err) {
        return dwarf_srclines_b(unit.get(), &version, &tableCount, &rawContext, err);
    });
    if (!table.ok()) return;
    const LineContextOwner context(dbg, rawContext);

    Dwarf_Line* lines = nullptr;
    Dwarf_Signed lineCount = 0;
    const Answer rows = ask(dbg, kTableFailed, [&](Dwarf_Error* err) {
        return dwarf_srclines_from_linecontext(context.get(), &lines, &lineCount, err);
    });
    if (!rows.ok()) return;

    for (Dwarf_Signed i = 0; i < lineCount; ++i) {
        const Dwarf_Line line = lines[i];
        char* rawName = nullptr;
        const Answer source = ask(dbg, onError("ERROR: dwarf_linesrc failed: (%ld). Error number: (%ld)"),
                                  [&](Dwarf_Error* err) { return dwarf_linesrc(line, &rawName, err); });
        const StringOwner nameOwner(dbg, source.ok() ? rawName : nullptr);
        Dwarf_Addr address = 0;
        const Answer addressAnswer = ask(dbg, onError("ERROR: dwarf_lineaddr failed: (%ld). Error number: (%ld)"),
                                         [&](Dwarf_Error* err) { return dwarf_lineaddr(line, &address, err); });
        if (!addressAnswer.ok()) address = 0;
        Dwarf_Unsigned lineNumber = 0;
        const Answer numberAnswer =
            ask(dbg, onError("ERROR: dwarf_lineno failed: (%ld). Error number: (%ld)"),
                [&](Dwarf_Error* err) { return dwarf_lineno(line, &lineNumber, err); });
        if (!numberAnswer.ok()) lineNumber = static_cast<Dwarf_Unsigned>(-1);
        visit(LineRow{source.ok() ? rawName : nullptr, address, lineNumber});
    }
}

}  // namespace kestab::dw
