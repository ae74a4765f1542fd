#include "symbols/die_collector.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dwarf/attribute_decoders.h"
#include "dwarf/die.h"
#include "dwarf/reader_handles.h"
#include "dwarf/source_paths.h"
#include "symbols/removed_function.h"
#include "symbols/symbol_collector.h"

namespace kestab {

namespace {

using dw::AttributeList;
using dw::Attribute;
using dw::Die;

class DieCollector {
public:
    DieCollector(DebugReader::Handles& reader, MapModel& model, const CollectOptions& options)
        : dbg_(reader.dbg.get()), model_(model), options_(options), symbols_(reader, model, unitFiles_) {}

    bool run();

private:
    bool walkUnit(const Die& unit, bool linkTime);
    void walkDieChain(const Die& root, const dw::Scope& unitScope);
    dw::Scope processDie(const Die& die, std::optional<Dwarf_Off> offset, const dw::Scope& enclosing);
    void processSubrange(const AttributeList& attrs);
    void processType(Dwarf_Half tag, std::uint32_t dieOffset, const AttributeList& attrs);
    void processAlias(std::uint32_t dieOffset, const AttributeList& attrs);
    void processUnit(const AttributeList& attrs);

    Dwarf_Debug dbg_;
    MapModel& model_;
    const CollectOptions& options_;
    dw::UnitFiles unitFiles_;
    dw::SymbolCollector symbols_;
    bool linkTimeUnit_ = false;  // the unit walked is a link-time unit
};

// The name of a unit DIE, empty when it has none.
std::string unitName(const Die& unit) {
    std::string name;
    unit.attributes().visit([&](const Attribute& attr) {
        if (attr.number() == DW_AT_name) attr.string(name);
    });
    return name;
}

// Link-time units come last, in their own order, so that the units their
// DIEs point into have their files in the file table when they are read.
bool DieCollector::run() {
    std::vector<Dwarf_Off> linkTimeUnits;
    const bool walked = dw::forEachUnit(dbg_, [&](const Die& unit) {
        Dwarf_Off offset = 0;
        if (unitName(unit) == dw::kLinkTimeUnitName && unit.offset(offset).ok()) {
            linkTimeUnits.push_back(offset);
            return true;
        }
        return walkUnit(unit, false);
    });
    if (!walked) return false;
    for (const Dwarf_Off offset : linkTimeUnits) {
        Die unit;
        if (Die::atOffset(dbg_, offset, unit).ok() && !walkUnit(unit, true)) return false;
    }
    return true;
}

// False when the unit has no source-file list.
bool DieCollector::walkUnit(const Die& unit, bool linkTime) {
    if (!symbols_.readUnitFiles(unit, unitFiles_)) return false;
    linkTimeUnit_ = linkTime;
    dw::Scope unitScope;
    unitScope.linkTime = linkTime;
    walkDieChain(unit, unitScope);
    if (options_.betweenUnits != nullptr) options_.betweenUnits();
    return true;
}

// Depth-first pre-order over `root`, its descendants and its following
// siblings, with an explicit stack so that deep nesting cannot exhaust the
// call stack. In pre-order every DIE lies beyond all DIEs before it, so a
// child or sibling that does not is a damaged link (a DW_AT_sibling pointing
// back, or into a subtree already walked). It is reported and the walk of
// the unit ends there: asking libdwarf for the sibling of an enclosing DIE
// would make it follow the same link again while it skips the subtree, and
// a link pointing back makes that loop forever.
void DieCollector::walkDieChain(const Die& root, const dw::Scope& unitScope) {
    struct Level {
        Die owned;  // empty for the root, which its supplier owns
        bool childrenDone;
        dw::Scope inner;  // what the DIE's children inherit
    };
    Dwarf_Off lastOffset = 0;
    const bool rootOffsetKnown = root.offset(lastOffset).ok();
    // Takes `next` as the walk's next DIE when it lies beyond the last one.
    auto follows = [&](const Die& next, const char* link) {
        Dwarf_Off offset = 0;
        if (next.offset(offset).ok() && offset > lastOffset) {
            lastOffset = offset;
            return true;
        }
        std::fprintf(stderr, "%s: DIE at 0x%llx does not follow 0x%llx", link, static_cast<unsigned long long>(offset),
                     static_cast<unsigned long long>(lastOffset));
        return false;
    };
    std::vector<Level> levels;
    levels.push_back(Level{Die(), false, processDie(root, rootOffsetKnown ? std::optional(lastOffset) : std::nullopt, unitScope)});
    while (!levels.empty()) {
        Level& level = levels.back();
        const Die& die = level.owned ? level.owned : root;
        Die next;
        if (!level.childrenDone) {
            level.childrenDone = true;
            if (die.child(next, dw::onError("dwarf_child:  (%ld)  (%ld)")).ok()) {
                if (!follows(next, "dwarf_child")) return;
                dw::Scope inner = processDie(next, lastOffset, level.inner);
                levels.push_back(Level{std::move(next), false, std::move(inner)});
                continue;
            }
        }
        const bool hasSibling = die.sibling(next, dw::onError("dwarf_siblingof: (%ld) (%ld)")).ok();
        levels.pop_back();
        if (hasSibling) {
            if (!follows(next, "dwarf_siblingof")) return;
            dw::Scope inner = processDie(next, lastOffset, levels.empty() ? unitScope : levels.back().inner);
            levels.push_back(Level{std::move(next), false, std::move(inner)});
        }
    }
}

// `offset` is the DIE's offset when the walk has already asked for it.
dw::Scope DieCollector::processDie(const Die& die, std::optional<Dwarf_Off> offset, const dw::Scope& enclosing) {
    Dwarf_Half tag = 0;
    die.tag(tag, dw::unlessOk("accessing tag of die! (%ld) (%ld)"));
    Dwarf_Off sectionOffset = offset.value_or(0);
    if (!offset) die.offset(sectionOffset, dw::unlessOk("dwarf_dieoffset (%ld) (%ld)"));
    Dwarf_Off unitOffset = 0;
    die.unitOffset(unitOffset, dw::unlessOk("dwarf_die_CU_offset (%ld) (%ld)"));

    const AttributeList attrs = die.attributes(dw::onError("dwarf_attrlist: (%ld)  (%ld)"));
    const auto dieOffset = static_cast<std::uint32_t>(sectionOffset);
    switch (tag) {
        case DW_TAG_subrange_type:
            processSubrange(attrs);
            break;
        case DW_TAG_base_type:
        case DW_TAG_pointer_type:
        case DW_TAG_array_type:
        case DW_TAG_structure_type:
            processType(tag, dieOffset, attrs);
            break;
        case DW_TAG_typedef:
        case DW_TAG_const_type:
        case DW_TAG_volatile_type:
            processAlias(dieOffset, attrs);
            break;
        case DW_TAG_subprogram:
        case DW_TAG_formal_parameter:
        case DW_TAG_variable:
            return symbols_.collect(die, tag, attrs, enclosing);
        case DW_TAG_inlined_subroutine:
            if (enclosing.linkTime) {
                dw::Scope inner = enclosing;
                inner.inlined = true;
                return inner;
            }
            break;
        case DW_TAG_compile_unit:
            // A link-time unit names no source file.
            if (!linkTimeUnit_) processUnit(attrs);
            break;
        default:
            break;
    }
    return enclosing;
}

void DieCollector::processSubrange(const AttributeList& attrs) {
    attrs.visit([&](const Attribute& attr) {
        if (attr.number() != DW_AT_upper_bound) return;
        const std::int32_t bound = dw::readSignedConstant(attr);
        model_.types.appendDimension(static_cast<std::uint32_t>(bound) + 1u);
    });
}

void DieCollector::processType(Dwarf_Half tag, std::uint32_t dieOffset, const AttributeList& attrs) {
    TypeEntry entry;
    attrs.visit([&](const Attribute& attr) {
        switch (attr.number()) {
            case DW_AT_name: {
                std::string name;
                if (attr.string(name, dw::kValueUnreadable).ok()) entry.name = model_.pool.append(name);
                break;
            }
            case DW_AT_byte_size: {
                Dwarf_Unsigned size = 0;
                if (attr.unsignedConstant(size, dw::kValueUnreadable).ok())
                    entry.byteSize = static_cast<std::uint32_t>(size);
                break;
            }
            case DW_AT_encoding: {
                Dwarf_Signed encoding = 0;
                if (attr.signedConstant(encoding).ok()) entry.encoding = static_cast<std::int32_t>(encoding);
                break;
            }
            case DW_AT_type:
                entry.byteSize = static_cast<std::uint32_t>(dw::referencedTypeSize(attr, model_.types));
                break;
            default:
                break;
        }
    });
    if (tag == DW_TAG_pointer_type) entry.name = model_.pool.append("POINTER");
    entry.kind = tag == DW_TAG_array_type ? kTypeArray : tag == DW_TAG_structure_type ? kTypeStruct : kTypeBasic;
    entry.dieOffset = dieOffset;
    model_.types.add(std::move(entry));
}

void DieCollector::processAlias(std::uint32_t dieOffset, const AttributeList& attrs) {
    attrs.visit([&](const Attribute& attr) {
        std::uint32_t target = 0;
        if (attr.number() == DW_AT_type && attr.reference(target).ok()) model_.types.addAlias(dieOffset, target);
    });
}

void DieCollector::processUnit(const AttributeList& attrs) {
    std::string name;
    std::string compDir;
    attrs.visit(
        [&](const Attribute& attr) {
            if (attr.number() == DW_AT_name)
                attr.string(name, dw::kValueUnreadable);
            else if (attr.number() == DW_AT_comp_dir)
                attr.string(compDir, dw::kValueUnreadable);
        },
        dw::kNumberUnreadable);
    if (name.empty() || compDir.empty()) return;
    const bool found = options_.fileExists("", name) || options_.fileExists(options_.libraryDir, name);
    if (!found) return;
    const std::string path = normalizePath(joinPath(compDir, name));
    if (model_.files.find(path) < 0) model_.files.add(path);
}

}  // namespace

bool collectCompilationUnits(DebugReader& reader, MapModel& model, const CollectOptions& options) {
    DieCollector collector(reader.handles(), model, options);
    return collector.run();
}

}  // namespace kestab
