#include "dwarf/line_rows.h"

#include <map>
#include <optional>
#include <utility>

namespace kestab::dw {

namespace {

constexpr Report kTableFailed = onError("ERROR: dwarf_srclines failed: (%ld). Error number: (%ld)");
constexpr Report kSourceFailed = onError("ERROR: dwarf_linesrc failed: (%ld). Error number: (%ld)");
constexpr Report kAddressFailed = onError("ERROR: dwarf_lineaddr failed: (%ld). Error number: (%ld)");
constexpr Report kNumberFailed = onError("ERROR: dwarf_lineno failed: (%ld). Error number: (%ld)");

// The name of a row's file as dwarf_linesrc gives it. That name depends
// only on the row's file number, so it is asked for once per number; the
// answer, a failure included, stands for every row with that number.
class RowNames {
public:
    RowNames(Dwarf_Debug dbg, std::vector<std::string>& names) : dbg_(dbg), names_(names) {}

    struct Named {
        Answer answer;
        std::uint32_t index = UINT32_MAX;  // into names, when answer is ok with a name
    };

    const Named& of(Dwarf_Line line) {
        Dwarf_Unsigned number = 0;
        const bool numbered =
            ask(dbg_, [&](Dwarf_Error* err) { return dwarf_line_srcfileno(line, &number, err); }).ok();
        if (numbered) {
            if (const auto known = byNumber_.find(number); known != byNumber_.end()) return known->second;
            return byNumber_.emplace(number, nameOf(line)).first->second;
        }
        unnumbered_ = nameOf(line);
        return unnumbered_;
    }

private:
    Named nameOf(Dwarf_Line line) {
        char* raw = nullptr;
        Named named;
        named.answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_linesrc(line, &raw, err); });
        const StringOwner owner(dbg_, named.answer.ok() ? raw : nullptr);
        if (named.answer.ok() && raw != nullptr) {
            named.index = static_cast<std::uint32_t>(names_.size());
            names_.emplace_back(raw);
        }
        return named;
    }

    Dwarf_Debug dbg_;
    std::vector<std::string>& names_;
    std::map<Dwarf_Unsigned, Named> byNumber_;
    Named unnumbered_;
};

}  // namespace

LineTables::Unit LineTables::decodeUnit(const Die& die) {
    Unit unit;
    Dwarf_Debug dbg = die.debug();
    auto hold = [&](const Report& report, const Answer& answer) {
        if (answer.error()) unit.messages.push_back(HeldMessage{&report, answer});
    };
    Dwarf_Small tableCount = 0;
    Dwarf_Line_Context rawContext = nullptr;
    const Answer table = ask(dbg, [&](Dwarf_Error* err) {
        return dwarf_srclines_b(die.get(), &unit.version, &tableCount, &rawContext, err);
    });
    hold(kTableFailed, table);
    if (!table.ok()) {
        unit.version = 0;
        return unit;
    }
    const LineContextOwner context(dbg, rawContext);

    Dwarf_Line* lines = nullptr;
    Dwarf_Signed lineCount = 0;
    const Answer rows = ask(dbg, [&](Dwarf_Error* err) {
        return dwarf_srclines_from_linecontext(context.get(), &lines, &lineCount, err);
    });
    hold(kTableFailed, rows);
    if (!rows.ok()) return unit;

    RowNames names(dbg, unit.names);
    unit.rows.reserve(static_cast<std::size_t>(lineCount));
    for (Dwarf_Signed i = 0; i < lineCount; ++i) {
        const Dwarf_Line line = lines[i];
        const RowNames::Named& named = names.of(line);
        hold(kSourceFailed, named.answer);
        Dwarf_Addr address = 0;
        const Answer addressAnswer = ask(dbg, [&](Dwarf_Error* err) { return dwarf_lineaddr(line, &address, err); });
        hold(kAddressFailed, addressAnswer);
        if (!addressAnswer.ok()) address = 0;
        Dwarf_Unsigned lineNumber = 0;
        const Answer numberAnswer = ask(dbg, [&](Dwarf_Error* err) { return dwarf_lineno(line, &lineNumber, err); });
        hold(kNumberFailed, numberAnswer);
        if (!numberAnswer.ok()) lineNumber = static_cast<Dwarf_Unsigned>(-1);
        unit.rows.push_back(Row{named.answer.ok() ? named.index : kNoName, static_cast<std::uint32_t>(address),
                                static_cast<std::uint32_t>(lineNumber)});
    }
    return unit;
}

Dwarf_Unsigned LineTables::decode(const Die& unit) {
    Unit decoded = decodeUnit(unit);
    const Dwarf_Unsigned version = decoded.version;
    Dwarf_Off offset = 0;
    if (unit.offset(offset).ok()) units_.insert_or_assign(offset, std::move(decoded));
    return version;
}

Dwarf_Unsigned LineTables::version(const Die& unit) {
    Dwarf_Off offset = 0;
    if (unit.offset(offset).ok()) {
        if (const auto kept = units_.find(offset); kept != units_.end()) return kept->second.version;
    }
    return decode(unit);
}

void LineTables::forEachRow(const Die& die, const std::function<void(const LineRow&)>& visit) {
    Dwarf_Off offset = 0;
    const auto kept = die.offset(offset).ok() ? units_.find(offset) : units_.end();
    const Unit unit = kept != units_.end() ? std::move(kept->second) : decodeUnit(die);
    if (kept != units_.end()) units_.erase(kept);
    for (const HeldMessage& held : unit.messages) held.report->print(held.answer);
    for (const Row& row : unit.rows)
        visit(LineRow{row.name == kNoName ? nullptr : unit.names[row.name].c_str(), row.address, row.line});
}

}  // namespace kestab::dw
