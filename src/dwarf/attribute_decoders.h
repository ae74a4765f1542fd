// Decoders of single attributes: external flags, the size of a referenced
// type, array bounds and locations; and the end of a DIE's pc range. Each accepts only the forms listed in
// its source and answers "no value" for everything else.
#pragma once

#include <cstdint>

#include "dwarf/die.h"
#include "dwarf/location_lists.h"
#include "tables/map_model.h"

namespace kestab::dw {

// True when the attribute is a DW_FORM_flag that is set, or a
// DW_FORM_flag_present (which is set by being there).
bool readExternalFlag(const Attribute& attr);

// The byte size of the type a unit-local DW_AT_type reference (ref1/2/4/8,
// ref_udata) names, among the types collected so far (typedefs and
// qualifiers followed); -1 when none or for any other form.
std::int32_t referencedTypeSize(const Attribute& attr, const TypeTable& types);

// An array bound: data1/2/4 and implicit_const read unsigned, the low 32
// bits of data8; -1 for any other form or when it cannot be read.
std::int32_t readSignedConstant(const Attribute& attr);

// The register byte of a location that is an address rather than a register.
constexpr std::uint8_t kAddressRegisterByte = 255;

struct Location {
    std::uint32_t operand = 0;      // breg offset or address
    std::uint8_t registerByte = 0;  // 0..31, or kAddressRegisterByte
    bool inRegister = false;
    // DW_OP_fbreg N: not accepted by itself (the answer is false), N kept
    // for the caller, which knows the enclosing function's frame base.
    bool frameRelative = false;
    std::int32_t frameOffset = 0;
};

// The end of a DIE's pc range: DW_AT_high_pc itself when it is an address,
// else DW_AT_low_pc plus that length (DWARF 4 and later), whatever the order
// of the two attributes.
struct CodeEnd {
    Dwarf_Addr address = 0;
    bool givenAsLength = false;  // DW_AT_high_pc was a length
};
// `report` is printed for a failed call.
Answer readHighPc(const Die& die, CodeEnd& end, const Report& report = {});

// One entry of a location list or expression.
struct LocationEntry {
    Dwarf_Small kind = 0;  // its DW_LLE kind
    Dwarf_Addr low = 0;    // the addresses it covers, [low, high)
    Dwarf_Addr high = 0;
    Dwarf_Bool addressUnavailable = false;
    Dwarf_Unsigned operationCount = 0;
    Dwarf_Locdesc_c description = nullptr;
};
// Entry `index` of `head`, through dwarf_get_locdesc_entry_d: the one form
// that both the older and the newer libdwarf offer, and that gives DWARF 2-4
// list entries as addresses too, not only relative to the unit's base.
Answer readLocationEntry(Dwarf_Debug dbg, Dwarf_Loc_Head_c head, Dwarf_Unsigned index, LocationEntry& entry);

// Decodes the first operation of a single location description (a location
// list with exactly one address range counts, whatever base-address,
// view-pair and end-of-list entries it has): DW_OP_regN, DW_OP_bregN or
// DW_OP_addr, and DW_OP_addrx or DW_OP_GNU_addr_index read as DW_OP_addr of
// the address they index. `die` holds the attribute; a list libdwarf
// refuses for its view pairs is read from `lists`.
bool decodeLocation(const Die& die, const Attribute& attr, LocationListSection& lists, Location& location);

// Whether the attribute of `die` names a DWARF 5 location list that runs
// past the end of .debug_loclists (or an index past its offset table),
// which libdwarf 20210528 would read beyond. The image's check before
// libdwarf opens it follows the lists of the DIEs that a walk of
// .debug_info in order reaches; this one serves those that libdwarf's
// walk reaches through damaged sibling links. Such a list is treated as
// one that libdwarf refused.
bool locationListRunsPastSection(const Die& die, const Attribute& attr, LocationListSection& lists);

}  // namespace kestab::dw
