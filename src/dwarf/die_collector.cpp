#include "dwarf/die_collector.h"

#include <cstdio>
#include <string>
#include <vector>

#include "dwarf/attribute_decoders.h"

namespace kestab {

std::string normalizePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        if (c == '/') {
            if (!out.empty() && out.back() == '/') continue;
            // "/./" becomes "/": drop the '.' that follows a '/'.
            const std::size_t n = out.size();
            if (n >= 2 && out[n - 1] == '.' && out[n - 2] == '/') {
                out.pop_back();
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

namespace {

using dw::Answer;
using dw::ask;

// A directory and a name joined by one '/', none added when the directory
// already ends in one; an absolute name stands for itself.
std::string joinPath(std::string_view directory, std::string_view name) {
    if (!name.empty() && name.front() == '/') return std::string(name);
    std::string path(directory);
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

class DieCollector {
public:
    DieCollector(Dwarf_Debug dbg, MapModel& model, const CollectOptions& options)
        : dbg_(dbg), model_(model), options_(options) {}

    bool run();

private:
    void walkDieChain(Dwarf_Die root);
    void processDie(Dwarf_Die die);
    void processSubrange(const dw::AttrList& attrs);
    void processType(Dwarf_Half tag, std::uint32_t dieOffset, const dw::AttrList& attrs);
    void processAlias(std::uint32_t dieOffset, const dw::AttrList& attrs);
    void processSymbol(Dwarf_Half tag, const dw::AttrList& attrs);
    void processUnit(const dw::AttrList& attrs);

    // Reads a string attribute; prints the designed message on an error.
    bool readString(Dwarf_Attribute attr, std::string& text);
    bool readUnsigned(Dwarf_Attribute attr, Dwarf_Unsigned& value);
    bool readAddress(Dwarf_Attribute attr, Dwarf_Addr& value);
    bool whatAttr(Dwarf_Attribute attr, Dwarf_Half& number, bool reportFailure);
    dw::AttrList attributesOf(Dwarf_Die die, bool report);

    Dwarf_Debug dbg_;
    MapModel& model_;
    const CollectOptions& options_;
    std::vector<std::string> sourceFiles_;  // normalized, entry n-1 for decl_file n
};

bool DieCollector::run() {
    return dw::forEachUnit(dbg_, [&](Dwarf_Die unitDie) {
        char** names = nullptr;
        Dwarf_Signed count = 0;
        const Answer files = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_srcfiles(unitDie, &names, &count, err); });
        if (!files.ok()) return false;
        const dw::SrcFiles list(dbg_, names, count);
        sourceFiles_.clear();
        for (Dwarf_Signed i = 0; i < list.size(); ++i)
            sourceFiles_.push_back(normalizePath(list[i] != nullptr ? list[i] : ""));

        walkDieChain(unitDie);
        return true;
    });
}

// Depth-first pre-order over `root`, its descendants and its following
// siblings, with an explicit stack so that deep nesting cannot exhaust the
// call stack. In pre-order every DIE lies beyond all DIEs before it, so a
// child or sibling that does not is a damaged link (a DW_AT_sibling pointing
// back, or into a subtree already walked). It is reported and the walk of
// the unit ends there: asking libdwarf for the sibling of an enclosing DIE
// would make it follow the same link again while it skips the subtree, and
// a link pointing back makes that loop forever.
void DieCollector::walkDieChain(Dwarf_Die root) {
    struct Level {
        dw::DieOwner owned;  // empty for the root, which its supplier releases
        Dwarf_Die die;
        bool childrenDone;
    };
    Dwarf_Off lastOffset = 0;
    ask(dbg_, [&](Dwarf_Error* err) { return dwarf_dieoffset(root, &lastOffset, err); });
    auto followsWalk = [&](Dwarf_Die die, const char* link) {
        Dwarf_Off offset = 0;
        const Answer answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_dieoffset(die, &offset, err); });
        if (answer.ok() && offset > lastOffset) {
            lastOffset = offset;
            return true;
        }
        std::fprintf(stderr, "%s: DIE at 0x%llx does not follow 0x%llx", link, static_cast<unsigned long long>(offset),
                     static_cast<unsigned long long>(lastOffset));
        return false;
    };
    std::vector<Level> levels;
    levels.push_back(Level{dw::DieOwner(), root, false});
    processDie(root);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (!level.childrenDone) {
            level.childrenDone = true;
            Dwarf_Die child = nullptr;
            const Answer answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_child(level.die, &child, err); });
            if (answer.ok()) {
                dw::DieOwner owned(dbg_, child);
                if (!followsWalk(child, "dwarf_child")) return;
                levels.push_back(Level{std::move(owned), child, false});
                processDie(child);
                continue;
            }
            if (answer.error())
                std::fprintf(stderr, "dwarf_child:  (%ld)  (%ld)", static_cast<long>(answer.code), answer.errorNumber);
        }
        Dwarf_Die sibling = nullptr;
        const Answer answer =
            ask(dbg_, [&](Dwarf_Error* err) { return dwarf_siblingof_b(dbg_, level.die, true, &sibling, err); });
        if (answer.error())
            std::fprintf(stderr, "dwarf_siblingof: (%ld) (%ld)", static_cast<long>(answer.code), answer.errorNumber);
        levels.pop_back();
        if (answer.ok()) {
            dw::DieOwner owned(dbg_, sibling);
            if (!followsWalk(sibling, "dwarf_siblingof")) return;
            levels.push_back(Level{std::move(owned), sibling, false});
            processDie(sibling);
        }
    }
}

dw::AttrList DieCollector::attributesOf(Dwarf_Die die, bool report) {
    Dwarf_Attribute* attrs = nullptr;
    Dwarf_Signed count = 0;
    const Answer answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_attrlist(die, &attrs, &count, err); });
    if (answer.error() && report)
        std::fprintf(stderr, "dwarf_attrlist: (%ld)  (%ld)", static_cast<long>(answer.code), answer.errorNumber);
    if (!answer.ok()) return dw::AttrList();
    return dw::AttrList(dbg_, attrs, count);
}

void DieCollector::processDie(Dwarf_Die die) {
    Dwarf_Half tag = 0;
    const Answer tagAnswer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_tag(die, &tag, err); });
    if (!tagAnswer.ok())
        std::fprintf(stderr, "accessing tag of die! (%ld) (%ld)", static_cast<long>(tagAnswer.code),
                     tagAnswer.errorNumber);
    Dwarf_Off sectionOffset = 0;
    const Answer offsetAnswer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_dieoffset(die, &sectionOffset, err); });
    if (!offsetAnswer.ok())
        std::fprintf(stderr, "dwarf_dieoffset (%ld) (%ld)", static_cast<long>(offsetAnswer.code),
                     offsetAnswer.errorNumber);
    Dwarf_Off unitOffset = 0;
    const Answer unitAnswer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_die_CU_offset(die, &unitOffset, err); });
    if (!unitAnswer.ok())
        std::fprintf(stderr, "dwarf_die_CU_offset (%ld) (%ld)", static_cast<long>(unitAnswer.code),
                     unitAnswer.errorNumber);

    const dw::AttrList attrs = attributesOf(die, true);
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
            processSymbol(tag, attrs);
            break;
        case DW_TAG_compile_unit:
            processUnit(attrs);
            break;
        default:
            break;
    }
}

bool DieCollector::whatAttr(Dwarf_Attribute attr, Dwarf_Half& number, bool reportFailure) {
    const Answer answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_whatattr(attr, &number, err); });
    if (!answer.ok() && reportFailure)
        std::fprintf(stderr, "dwarf_whatattr entry missing (%ld) (%ld)", static_cast<long>(answer.code),
                     answer.errorNumber);
    return answer.ok();
}

bool DieCollector::readString(Dwarf_Attribute attr, std::string& text) {
    char* value = nullptr;
    const Answer answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_formstring(attr, &value, err); });
    if (answer.error()) std::fprintf(stderr, "Cannot get formstr/p....(%ld)", static_cast<long>(answer.code));
    if (!answer.ok() || value == nullptr) return false;
    text = value;
    return true;
}

bool DieCollector::readUnsigned(Dwarf_Attribute attr, Dwarf_Unsigned& value) {
    const Answer answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_formudata(attr, &value, err); });
    if (answer.error()) std::fprintf(stderr, "Cannot get formstr/p....(%ld)", static_cast<long>(answer.code));
    return answer.ok();
}

bool DieCollector::readAddress(Dwarf_Attribute attr, Dwarf_Addr& value) {
    const Answer answer = ask(dbg_, [&](Dwarf_Error* err) { return dwarf_formaddr(attr, &value, err); });
    if (answer.error()) std::fprintf(stderr, "Cannot get formstr/p....(%ld)", static_cast<long>(answer.code));
    return answer.ok();
}

void DieCollector::processSubrange(const dw::AttrList& attrs) {
    for (Dwarf_Signed i = 0; i < attrs.size(); ++i) {
        Dwarf_Half number = 0;
        if (!whatAttr(attrs[i], number, false) || number != DW_AT_upper_bound) continue;
        const std::int32_t bound = dw::readSignedConstant(dbg_, attrs[i]);
        model_.types.appendDimension(static_cast<std::uint32_t>(bound) + 1u);
    }
}

void DieCollector::processType(Dwarf_Half tag, std::uint32_t dieOffset, const dw::AttrList& attrs) {
    TypeEntry entry;
    for (Dwarf_Signed i = 0; i < attrs.size(); ++i) {
        Dwarf_Half number = 0;
        if (!whatAttr(attrs[i], number, false)) continue;
        switch (number) {
            case DW_AT_name: {
                std::string name;
                if (readString(attrs[i], name)) entry.name = model_.pool.append(name);
                break;
            }
            case DW_AT_byte_size: {
                Dwarf_Unsigned size = 0;
                if (readUnsigned(attrs[i], size)) entry.byteSize = static_cast<std::uint32_t>(size);
                break;
            }
            case DW_AT_encoding: {
                Dwarf_Signed encoding = 0;
                const Answer answer =
                    ask(dbg_, [&](Dwarf_Error* err) { return dwarf_formsdata(attrs[i], &encoding, err); });
                if (answer.ok()) entry.encoding = static_cast<std::int32_t>(encoding);
                break;
            }
            case DW_AT_type:
                entry.byteSize = static_cast<std::uint32_t>(dw::referencedTypeSize(dbg_, attrs[i], model_.types));
                break;
            default:
                break;
        }
    }
    if (tag == DW_TAG_pointer_type) entry.name = model_.pool.append("POINTER");
    entry.kind = tag == DW_TAG_array_type ? kTypeArray : tag == DW_TAG_structure_type ? kTypeStruct : kTypeBasic;
    entry.dieOffset = dieOffset;
    model_.types.add(std::move(entry));
}

void DieCollector::processAlias(std::uint32_t dieOffset, const dw::AttrList& attrs) {
    for (Dwarf_Signed i = 0; i < attrs.size(); ++i) {
        Dwarf_Half number = 0;
        if (!whatAttr(attrs[i], number, false) || number != DW_AT_type) continue;
        std::uint32_t target = 0;
        if (dw::readGlobalReference(dbg_, attrs[i], target).ok()) model_.types.addAlias(dieOffset, target);
    }
}

void DieCollector::processSymbol(Dwarf_Half tag, const dw::AttrList& attrs) {
    const bool isFunction = tag == DW_TAG_subprogram;
    SymbolEntry entry;
    std::string name;
    bool fileFound = false;
    bool external = false;
    bool locationOk = false;
    dw::Location location;
    bool hasName = false;
    bool hasType = false;
    bool hasExternal = false;
    bool hasDeclarationLink = false;
    std::uint32_t declarationOffset = 0;

    bool hasDeclFile = false;
    auto readDeclFile = [&](Dwarf_Attribute attr) {
        Dwarf_Unsigned file = 0;
        if (!readUnsigned(attr, file) || file == 0 || file > sourceFiles_.size()) return;
        const std::int32_t index = model_.files.find(sourceFiles_[file - 1]);
        if (index >= 0) {
            entry.fileIndex = static_cast<std::uint32_t>(index);
            fileFound = true;
        }
    };
    auto readType = [&](Dwarf_Attribute attr) {
        std::uint32_t offset = 0;
        const Answer answer = dw::readGlobalReference(dbg_, attr, offset);
        if (answer.ok()) {
            entry.typeRef = offset;
        } else {
            std::fprintf(stderr, "ref formwith no ref?!: (%ld) (%ld)", static_cast<long>(answer.code),
                         answer.errorNumber);
        }
    };

    for (Dwarf_Signed i = 0; i < attrs.size(); ++i) {
        Dwarf_Attribute attr = attrs[i];
        Dwarf_Half number = 0;
        if (!whatAttr(attr, number, true)) continue;
        switch (number) {
            case DW_AT_decl_file:
                hasDeclFile = true;
                readDeclFile(attr);
                break;
            case DW_AT_name:
                hasName = true;
                readString(attr, name);
                break;
            case DW_AT_specification:
                hasDeclarationLink = dw::readGlobalReference(dbg_, attr, declarationOffset).ok();
                break;
            case DW_AT_low_pc:
                if (isFunction) {
                    Dwarf_Addr address = 0;
                    if (readAddress(attr, address)) entry.address = static_cast<std::uint32_t>(address);
                }
                break;
            case DW_AT_high_pc:
                if (isFunction) {
                    Dwarf_Addr address = 0;
                    if (readAddress(attr, address)) entry.aux2 = static_cast<std::uint32_t>(address) - 2u;
                }
                break;
            case DW_AT_external:
                if (!isFunction) {
                    hasExternal = true;
                    external = dw::readExternalFlag(dbg_, attr);
                }
                break;
            case DW_AT_location:
                if (!isFunction) locationOk = dw::decodeLocation(dbg_, attr, location);
                break;
            case DW_AT_type:
                if (!isFunction) {
                    hasType = true;
                    readType(attr);
                }
                break;
            default:
                break;
        }
    }

    // A definition that refers to its declaration takes the name, type and
    // external flag it lacks from there. Its file is its own; the compiler
    // leaves it out only when it equals the declaration's.
    if (hasDeclarationLink && (!hasName || !hasDeclFile || (!isFunction && (!hasType || !hasExternal)))) {
        Dwarf_Die rawDeclaration = nullptr;
        const Answer answer = ask(
            dbg_, [&](Dwarf_Error* err) { return dwarf_offdie_b(dbg_, declarationOffset, true, &rawDeclaration, err); });
        if (answer.ok()) {
            const dw::DieOwner declaration(dbg_, rawDeclaration);
            const dw::AttrList declared = attributesOf(declaration.get(), false);
            for (Dwarf_Signed i = 0; i < declared.size(); ++i) {
                Dwarf_Half number = 0;
                if (!whatAttr(declared[i], number, false)) continue;
                if (number == DW_AT_decl_file && !hasDeclFile) {
                    readDeclFile(declared[i]);
                } else if (number == DW_AT_name && !hasName) {
                    readString(declared[i], name);
                } else if (number == DW_AT_type && !hasType && !isFunction) {
                    readType(declared[i]);
                } else if (number == DW_AT_external && !hasExternal && !isFunction) {
                    external = dw::readExternalFlag(dbg_, declared[i]);
                }
            }
        }
    }

    if (!fileFound || name.empty()) return;
    entry.name = model_.pool.append(name);
    if (isFunction) {
        entry.typeFlags = symflag::kFunction;
        entry.typeRef = 0;
        model_.symbols.push_back(entry);
        return;
    }
    entry.aux1 = static_cast<std::int8_t>(location.registerByte);
    entry.address = location.operand;
    entry.typeFlags = symflag::kNotExternal;
    entry.aux2 = 0;
    if (external) {
        entry.aux1 = 1;
        entry.typeFlags &= ~symflag::kNotExternal;
    }
    if (location.inRegister) entry.typeFlags |= symflag::kRegister;
    if (locationOk) model_.symbols.push_back(entry);
}

void DieCollector::processUnit(const dw::AttrList& attrs) {
    std::string name;
    std::string compDir;
    for (Dwarf_Signed i = 0; i < attrs.size(); ++i) {
        Dwarf_Half number = 0;
        if (!whatAttr(attrs[i], number, true)) continue;
        if (number == DW_AT_name)
            readString(attrs[i], name);
        else if (number == DW_AT_comp_dir)
            readString(attrs[i], compDir);
    }
    if (name.empty() || compDir.empty()) return;
    const bool found = options_.fileExists("", name) || options_.fileExists(options_.libraryDir, name);
    if (!found) return;
    const std::string path = normalizePath(joinPath(compDir, name));
    if (model_.files.find(path) < 0) model_.files.add(path);
}

}  // namespace

bool collectCompilationUnits(DebugReader& reader, MapModel& model, const CollectOptions& options) {
    DieCollector collector(reader.handles().dbg, model, options);
    return collector.run();
}

}  // namespace kestab
