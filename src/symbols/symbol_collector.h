// The rows of the symbol table: one per function, formal parameter or
// variable DIE that names a known source file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dwarf/attribute_decoders.h"
#include "dwarf/die.h"
#include "dwarf/line_rows.h"
#include "dwarf/reader_handles.h"
#include "symbols/frame_base.h"
#include "tables/map_model.h"

namespace kestab::dw {

// Messages of the DIE walk about attributes: a number that cannot be read
// (where the walk reports it), and a string, constant or address value that
// cannot be read.
inline constexpr Report kNumberUnreadable = unlessOk("dwarf_whatattr entry missing (%ld) (%ld)");
inline constexpr Report kValueUnreadable = onError("Cannot get formstr/p....(%ld)", kCode);

// What a symbol DIE states, as read from its attributes (and those of its
// declaration). An attribute that comes twice is read twice, in order.
struct SymbolAttributes {
    bool isFunction = false;

    bool hasName = false;
    std::string name;  // empty when absent or unreadable
    bool hasDeclFile = false;
    std::optional<std::uint32_t> fileIndex;  // DW_AT_decl_file's row in the file table, when there
    // The .debug_info offset of the declaration DW_AT_specification names.
    std::optional<std::uint32_t> declaration;

    // The .debug_info offset of the DIE DW_AT_abstract_origin names: the
    // abstract instance of an out-of-line copy of an inlined function, or
    // the compile-time DIE of a DIE of a link-time unit.
    std::optional<std::uint32_t> origin;

    // Functions only.
    std::optional<std::uint32_t> lowPc;
    std::optional<std::uint32_t> highPc;  // the end of the code
    bool highPcIsLength = false;          // DW_AT_high_pc was given as a length
    // DW_AT_frame_base, valid while the DIE's attribute list lives.
    std::optional<Attribute> frameBase;

    // Parameters and variables only.
    bool hasType = false;
    std::uint32_t typeRef = 0;
    bool hasExternal = false;
    bool external = false;
    bool hasLocation = false;  // a location was decoded
    Location location;
};

// A unit's normalized source-file names, in file-number order.
struct UnitFiles {
    Dwarf_Off unit = 0;  // the .debug_info offset of the unit's DIE
    std::vector<std::string> names;
    // The DW_AT_decl_file number of names[0]: 0 under a version 5 line
    // table, whose file 0 is the unit's primary file, 1 under earlier ones.
    Dwarf_Unsigned firstNumber = 1;

    // The name DW_AT_decl_file `number` stands for; null when none.
    const std::string* find(Dwarf_Unsigned number) const {
        if (number < firstNumber || number - firstNumber >= names.size()) return nullptr;
        return &names[number - firstNumber];
    }
};

// The name GCC gives the units its link step writes (-flto): they hold the
// code, each DIE pointing at the compile-time DIE that names it.
inline constexpr const char* kLinkTimeUnitName = "<artificial>";

// What the DIEs inside a DIE inherit from the unit and the subprograms
// around them.
struct Scope {
    bool linkTime = false;               // in a link-time unit
    bool inlined = false;                // inside an inlined copy of a function (link-time units)
    bool removed = false;                // inside a function the linker removed
    std::optional<FrameBase> frameBase;  // of the innermost subprogram
};

class SymbolCollector {
public:
    // Reads through `reader`; `unitFiles` are those of the unit walked.
    SymbolCollector(DebugReader::Handles& reader, MapModel& model, const UnitFiles& unitFiles);

    // Reads the source-file names of the unit whose DIE `unit` is. False
    // when the unit has no source-file list.
    bool readUnitFiles(const Die& unit, UnitFiles& files);

    // Reads a DW_TAG_subprogram, DW_TAG_formal_parameter or DW_TAG_variable
    // DIE inside `enclosing`, completes it from its declaration or abstract
    // instance and adds its row when it is kept. Answers what the DIEs
    // inside it inherit.
    Scope collect(const Die& die, Dwarf_Half tag, const AttributeList& attrs, const Scope& enclosing);

private:
    SymbolAttributes read(const Die& die, bool isFunction, const AttributeList& attrs);
    // A DIE of a link-time unit: kept only as the DIE its origin names.
    Scope collectLinkTime(SymbolAttributes& symbol, const Scope& enclosing);
    // A definition that refers to its declaration takes the name, type and
    // external flag it lacks from there.
    void followDeclaration(SymbolAttributes& symbol);
    // A DIE with an abstract origin takes the name and file it lacks (a
    // variable or parameter also the type and external flag) from there.
    void followOrigin(SymbolAttributes& symbol);
    // What a symbol still lacks: each is cleared once a linked DIE has it.
    struct Missing {
        bool name = false;
        bool file = false;
        bool type = false;
        bool external = false;
    };
    // Takes what `missing` names from the DIE at `offset`; the DIE's own
    // DW_AT_abstract_origin or DW_AT_specification link, or nothing (also
    // when the DIE cannot be read).
    std::optional<std::uint32_t> takeMissing(std::uint32_t offset, SymbolAttributes& symbol, Missing& missing);
    // What the DIEs inside a function inherit: whether it was removed, its
    // frame base.
    Scope scopeOf(const SymbolAttributes& function, const Scope& enclosing);
    void commit(const SymbolAttributes& symbol);

    void readAttribute(const Die& die, const Attribute& attr, SymbolAttributes& symbol);
    // DW_AT_decl_file, a number in the list of `files`.
    void readDeclFile(const Attribute& attr, const UnitFiles& files, SymbolAttributes& symbol);
    // The source files of the unit `die` stands in; null when they cannot
    // be read.
    const UnitFiles* filesOf(const Die& die);
    void readAddress(const Attribute& attr, std::optional<std::uint32_t>& address);
    void readEnd(const Die& die, SymbolAttributes& symbol);
    void readType(const Attribute& attr, SymbolAttributes& symbol);

    Dwarf_Debug dbg_;
    LineTables& lineTables_;
    MapModel& model_;
    const UnitFiles& unitFiles_;
    bool sectionAtZero_;
    FrameBaseReader frameBases_;
    LocationListSection lists_;
    // The source files of other units than the current one, by unit.
    std::map<Dwarf_Off, UnitFiles> otherUnits_;
};

}  // namespace kestab::dw
