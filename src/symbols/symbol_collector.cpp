#include "symbols/symbol_collector.h"

#include "dwarf/source_paths.h"
#include "symbols/removed_function.h"

namespace kestab::dw {

namespace {

// A function's end is written as the address of its last halfword: high_pc,
// the first address past the function, less two.
constexpr std::uint32_t kFunctionEndBeforeHighPc = 2;

// The register byte is widened with its sign: registers 0..31 stay as they
// are and the kAddressRegisterByte of an address becomes -1, which the S
// line shows as "1:ffffffff".
std::int32_t widenRegisterByte(std::uint8_t registerByte) { return static_cast<std::int8_t>(registerByte); }

// Links followed from an out-of-line copy to the DIE it takes its name from:
// DW_AT_abstract_origin, then DW_AT_abstract_origin or DW_AT_specification
// links.
constexpr int kMaxOriginSteps = 8;

// A local at DW_OP_fbreg N is shown as DW_OP_breg<r> M of the same place,
// r and M = K + N from the enclosing function's frame base (r, K).
void placeFromFrameBase(SymbolAttributes& symbol, const Scope& enclosing) {
    if (symbol.isFunction || symbol.hasLocation || !symbol.location.frameRelative || !enclosing.frameBase) return;
    symbol.location.registerByte = enclosing.frameBase->reg;
    symbol.location.operand = static_cast<std::uint32_t>(enclosing.frameBase->offset) +
                              static_cast<std::uint32_t>(symbol.location.frameOffset);
    symbol.hasLocation = true;
}

}  // namespace

SymbolCollector::SymbolCollector(DebugReader::Handles& reader, MapModel& model, const UnitFiles& unitFiles)
    : dbg_(reader.dbg.get()),
      lineTables_(reader.lineTables),
      model_(model),
      unitFiles_(unitFiles),
      sectionAtZero_(reader.sectionAtZero),
      frameBases_(dbg_),
      lists_([&reader](std::vector<unsigned char>& contents, bool& bigEndian) {
          return reader.debugSection(".debug_loclists", contents, bigEndian);
      }) {}

bool SymbolCollector::readUnitFiles(const Die& unit, UnitFiles& files) {
    if (!unit.sourceFiles(files.names).ok()) return false;
    for (std::string& name : files.names) name = normalizePath(name);
    // The line table's version need not be the unit's own: Debian 12's
    // assembler writes version 3 tables under DWARF 5 units.
    files.firstNumber = lineTables_.version(unit) >= 5 ? 0 : 1;
    files.unit = 0;
    unit.offset(files.unit);
    return true;
}

Scope SymbolCollector::collect(const Die& die, Dwarf_Half tag, const AttributeList& attrs, const Scope& enclosing) {
    // Nothing inside an inlined copy is listed: neither is it in the units
    // the compiler writes.
    if (enclosing.inlined) return enclosing;
    SymbolAttributes symbol = read(die, tag == DW_TAG_subprogram, attrs);
    if (enclosing.linkTime) return collectLinkTime(symbol, enclosing);
    if (symbol.isFunction && symbol.origin)
        followOrigin(symbol);
    else
        followDeclaration(symbol);
    const Scope inner = symbol.isFunction ? scopeOf(symbol, enclosing) : enclosing;
    // Nothing of a function the linker removed is listed.
    if (inner.removed) return inner;
    placeFromFrameBase(symbol, enclosing);
    commit(symbol);
    return inner;
}

// It stands for the DIE its origin names, with its own addresses, location
// and frame base. A DIE without origin gives no row, nor does a function
// without code (an abstract instance, whose compile-time DIE gives its row);
// the DIEs inside such a function are read all the same.
Scope SymbolCollector::collectLinkTime(SymbolAttributes& symbol, const Scope& enclosing) {
    const Scope inner = symbol.isFunction ? scopeOf(symbol, enclosing) : enclosing;
    if (inner.removed || !symbol.origin || (symbol.isFunction && !symbol.lowPc)) return inner;
    followOrigin(symbol);
    placeFromFrameBase(symbol, enclosing);
    commit(symbol);
    return inner;
}

SymbolAttributes SymbolCollector::read(const Die& die, bool isFunction, const AttributeList& attrs) {
    SymbolAttributes symbol;
    symbol.isFunction = isFunction;
    attrs.visit([&](const Attribute& attr) { readAttribute(die, attr, symbol); }, kNumberUnreadable);
    return symbol;
}

void SymbolCollector::readAttribute(const Die& die, const Attribute& attr, SymbolAttributes& symbol) {
    const bool isFunction = symbol.isFunction;
    switch (attr.number()) {
        case DW_AT_decl_file:
            symbol.hasDeclFile = true;
            readDeclFile(attr, unitFiles_, symbol);
            break;
        case DW_AT_name:
            symbol.hasName = true;
            attr.string(symbol.name, kValueUnreadable);
            break;
        case DW_AT_specification: {
            std::uint32_t offset = 0;
            symbol.declaration.reset();
            if (attr.reference(offset).ok()) symbol.declaration = offset;
            break;
        }
        case DW_AT_abstract_origin: {
            std::uint32_t offset = 0;
            if (attr.reference(offset).ok()) symbol.origin = offset;
            break;
        }
        case DW_AT_frame_base:
            // A list that libdwarf could not read safely gives no frame
            // base, as one that libdwarf refuses.
            if (isFunction && !locationListRunsPastSection(die, attr, lists_)) symbol.frameBase = attr;
            break;
        case DW_AT_low_pc:
            if (isFunction) readAddress(attr, symbol.lowPc);
            break;
        case DW_AT_high_pc:
            if (isFunction) readEnd(die, symbol);
            break;
        case DW_AT_external:
            if (!isFunction) {
                symbol.hasExternal = true;
                symbol.external = readExternalFlag(attr);
            }
            break;
        case DW_AT_location:
            if (!isFunction) symbol.hasLocation = decodeLocation(die, attr, lists_, symbol.location);
            break;
        case DW_AT_type:
            if (!isFunction) {
                symbol.hasType = true;
                readType(attr, symbol);
            }
            break;
        default:
            break;
    }
}

void SymbolCollector::readAddress(const Attribute& attr, std::optional<std::uint32_t>& address) {
    Dwarf_Addr value = 0;
    if (attr.address(value, kValueUnreadable).ok()) address = static_cast<std::uint32_t>(value);
}

// The end of a function's code, whatever the form of DW_AT_high_pc.
void SymbolCollector::readEnd(const Die& die, SymbolAttributes& symbol) {
    CodeEnd end;
    if (!readHighPc(die, end, kValueUnreadable).ok()) return;
    symbol.highPc = static_cast<std::uint32_t>(end.address);
    symbol.highPcIsLength = end.givenAsLength;
}

void SymbolCollector::readDeclFile(const Attribute& attr, const UnitFiles& files, SymbolAttributes& symbol) {
    Dwarf_Unsigned file = 0;
    if (!attr.unsignedConstant(file, kValueUnreadable).ok()) return;
    const std::string* name = files.find(file);
    if (name == nullptr) return;
    const std::int32_t index = model_.files.find(*name);
    if (index >= 0) symbol.fileIndex = static_cast<std::uint32_t>(index);
}

void SymbolCollector::readType(const Attribute& attr, SymbolAttributes& symbol) {
    attr.reference(symbol.typeRef, unlessOk("ref formwith no ref?!: (%ld) (%ld)"));
}

// The file is the definition's own; the compiler leaves it out only when it
// equals the declaration's. The has... fields stay those of the definition's
// own attributes.
void SymbolCollector::followDeclaration(SymbolAttributes& symbol) {
    const bool variable = !symbol.isFunction;
    Missing missing{!symbol.hasName, !symbol.hasDeclFile, variable && !symbol.hasType,
                    variable && !symbol.hasExternal};
    if (!symbol.declaration || !(missing.name || missing.file || missing.type || missing.external)) return;
    takeMissing(*symbol.declaration, symbol, missing);
}

// Its addresses and location stay its own. From the abstract instance on,
// DW_AT_abstract_origin and DW_AT_specification links are followed, at most
// kMaxOriginSteps in all.
void SymbolCollector::followOrigin(SymbolAttributes& symbol) {
    const bool variable = !symbol.isFunction;
    Missing missing{!symbol.hasName, !symbol.hasDeclFile, variable && !symbol.hasType,
                    variable && !symbol.hasExternal};
    std::optional<std::uint32_t> link = symbol.origin;
    for (int step = 0;
         link && step < kMaxOriginSteps && (missing.name || missing.file || missing.type || missing.external); ++step)
        link = takeMissing(*link, symbol, missing);
}

// The current unit's, or those of the unit the DIE stands in, read once.
const UnitFiles* SymbolCollector::filesOf(const Die& die) {
    Dwarf_Off unit = 0;
    if (!die.unitDieOffset(unit).ok()) return nullptr;
    if (unit == unitFiles_.unit) return &unitFiles_;
    const auto known = otherUnits_.find(unit);
    if (known != otherUnits_.end()) return &known->second;
    Die unitDie;
    UnitFiles files;
    if (!Die::atOffset(dbg_, unit, unitDie).ok() || !readUnitFiles(unitDie, files)) return nullptr;
    return &otherUnits_.emplace(unit, std::move(files)).first->second;
}

std::optional<std::uint32_t> SymbolCollector::takeMissing(std::uint32_t offset, SymbolAttributes& symbol,
                                                          Missing& missing) {
    Die linked;
    if (!Die::atOffset(dbg_, offset, linked).ok()) return std::nullopt;
    Missing found;
    std::optional<std::uint32_t> next;
    // Its DW_AT_decl_file counts in its own unit's file list.
    const UnitFiles* files = missing.file ? filesOf(linked) : nullptr;
    linked.attributes().visit([&](const Attribute& attr) {
        std::uint32_t target = 0;
        const Dwarf_Half number = attr.number();
        if (number == DW_AT_decl_file && missing.file) {
            found.file = true;
            if (files != nullptr) readDeclFile(attr, *files, symbol);
        } else if (number == DW_AT_name && missing.name) {
            found.name = true;
            attr.string(symbol.name, kValueUnreadable);
        } else if (number == DW_AT_type && missing.type) {
            found.type = true;
            readType(attr, symbol);
        } else if (number == DW_AT_external && missing.external) {
            found.external = true;
            symbol.external = readExternalFlag(attr);
        } else if ((number == DW_AT_abstract_origin || number == DW_AT_specification) && !next &&
                   attr.reference(target).ok()) {
            next = target;
        }
    });
    missing.name = missing.name && !found.name;
    missing.file = missing.file && !found.file;
    missing.type = missing.type && !found.type;
    missing.external = missing.external && !found.external;
    return next;
}

Scope SymbolCollector::scopeOf(const SymbolAttributes& function, const Scope& enclosing) {
    CodeRange range;
    range.hasLow = function.lowPc.has_value();
    range.low = function.lowPc.value_or(0);
    range.hasHigh = function.highPc.has_value();
    range.highIsLength = function.highPcIsLength;
    range.end = function.highPc.value_or(0);
    Scope inner;
    inner.linkTime = enclosing.linkTime;
    inner.removed = enclosing.removed || isRemovedFunction(range, sectionAtZero_);
    if (!inner.removed && function.frameBase)
        inner.frameBase = frameBases_.resolve(*function.frameBase, range.low, range.hasHigh ? range.end : range.low);
    return inner;
}

void SymbolCollector::commit(const SymbolAttributes& symbol) {
    if (!symbol.fileIndex || symbol.name.empty()) return;
    SymbolEntry entry;
    // The name is pooled even for a variable that is then dropped for want
    // of a location.
    entry.name = model_.pool.append(symbol.name);
    entry.fileIndex = *symbol.fileIndex;
    if (symbol.isFunction) {
        entry.typeFlags = symflag::kFunction;
        entry.address = symbol.lowPc.value_or(0);
        if (symbol.highPc) entry.aux2 = *symbol.highPc - kFunctionEndBeforeHighPc;
        model_.symbols.push_back(entry);
        return;
    }
    if (!symbol.hasLocation) return;
    entry.typeRef = symbol.typeRef;
    entry.address = symbol.location.operand;
    entry.aux1 = widenRegisterByte(symbol.location.registerByte);
    entry.typeFlags = symflag::kNotExternal;
    if (symbol.external) {
        entry.aux1 = 1;
        entry.typeFlags &= ~symflag::kNotExternal;
    }
    if (symbol.location.inRegister) entry.typeFlags |= symflag::kRegister;
    model_.symbols.push_back(entry);
}

}  // namespace kestab::dw
