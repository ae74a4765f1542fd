// The location-list check made before libdwarf reads an image: lists
// followed from hand-made units to their end, or to where they run past
// their section.
#include "elf/location_list_guard.h"
#include "elf/unit_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestab::test {
namespace {

using elf::ListSection;
using Bytes = std::vector<unsigned char>;

constexpr std::uint8_t kData4 = 0x06, kSecOffset = 0x17, kExprloc = 0x18, kLoclistx = 0x22;

void put32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

struct ListCase {
    const char* name;
    int version;          // of the one unit
    std::uint8_t form;    // of its DW_AT_location
    std::uint32_t value;  // an offset, or the loclistx index
    Bytes lists;          // .debug_loclists (version 5), else .debug_loc
    ListSection expected;
    bool withBase = false;  // DW_AT_loclists_base 0 before the location
};

// One unit with one DIE: DW_AT_loclists_base (when asked), then
// DW_AT_location in the case's form.
void buildUnit(const ListCase& c, Bytes& info, Bytes& abbrev) {
    abbrev = {1, 0x11, 0};
    if (c.withBase) abbrev.insert(abbrev.end(), {0x8c, 0x01, kSecOffset});
    abbrev.insert(abbrev.end(), {0x02, c.form, 0, 0, 0});
    Bytes body;
    if (c.version == 5) {
        body = {5, 0, 1, 4};  // version, compile unit, address size
        put32(body, 0);       // abbreviation offset
    } else {
        body = {static_cast<unsigned char>(c.version), 0};
        put32(body, 0);
        body.push_back(4);
    }
    body.push_back(1);  // the DIE's abbreviation code
    if (c.withBase) put32(body, 0);
    if (c.form == kLoclistx)
        body.push_back(static_cast<unsigned char>(c.value));
    else if (c.form == kExprloc)
        body.insert(body.end(), {1, 0x50});
    else
        put32(body, c.value);
    body.push_back(0);
    info.clear();
    put32(info, static_cast<std::uint32_t>(body.size()));
    info.insert(info.end(), body.begin(), body.end());
}

TEST(LocationListGuard, ListsAreFollowedToTheirEndInsideTheSection) {
    const Bytes end8(8, 0);
    auto cat = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const ListCase cases[] = {
        {"offset pair, end", 5, kSecOffset, 0, {4, 0, 0x10, 1, 0x50, 0}, ListSection::none},
        {"expression length far past the end",
         5,
         kSecOffset,
         0,
         {4, 0, 0x10, 0xfe, 0xff, 4, 0x50, 0},
         ListSection::loclists},
        {"expression cut by the end", 5, kSecOffset, 0, {4, 0, 0x10, 2, 0x50}, ListSection::loclists},
        {"no end-of-list entry", 5, kSecOffset, 0, {4, 0, 0x10, 1, 0x50}, ListSection::loclists},
        {"base address, start and length, end",
         5,
         kSecOffset,
         0,
         {6, 0, 0x80, 0, 0, 8, 0, 0x80, 0, 0, 0x10, 1, 0x50, 0},
         ListSection::none},
        {"list starting past the section", 5, kSecOffset, 0x40, {0}, ListSection::loclists},
        {"entry of a kind not known here: no answer", 5, kSecOffset, 0, {0x20, 0xff}, ListSection::none},
        {"an expression, no list", 5, kExprloc, 0, {}, ListSection::none},
        {"loclistx through the offset table",
         5,
         kLoclistx,
         0,
         {4, 0, 0, 0, 4, 0, 0x10, 1, 0x50, 0},
         ListSection::none,
         true},
        {"loclistx past the offset table",
         5,
         kLoclistx,
         5,
         {4, 0, 0, 0, 4, 0, 0x10, 1, 0x50, 0},
         ListSection::loclists,
         true},
        {"DWARF 2 entry, end", 2, kData4, 0, cat({8, 0x80, 0, 0, 0x10, 0x80, 0, 0, 1, 0, 0x50}, end8),
         ListSection::none},
        {"DWARF 2 base address selection", 2, kData4, 0,
         cat({0xff, 0xff, 0xff, 0xff, 0, 0x80, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0x50}, end8), ListSection::none},
        {"DWARF 3 expression length past the end", 3, kData4, 0,
         cat({8, 0x80, 0, 0, 0x10, 0x80, 0, 0, 0xff, 0xff, 0x50}, end8), ListSection::loc},
        {"DWARF 4 data4 is a constant, no list", 4, kData4, 0x40, {}, ListSection::none},
        {"DWARF 4 sec_offset past the section", 4, kSecOffset, 0x40, end8, ListSection::loc},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes info, abbrev;
        buildUnit(c, info, abbrev);
        elf::LocationSections sections;
        sections.info = info;
        sections.abbrev = abbrev;
        if (c.version == 5)
            sections.loclists = c.lists;
        else
            sections.loc = c.lists;
        EXPECT_EQ(elf::listRunningPastItsSection(sections), c.expected);
        // Without the list section there is nothing to read past.
        sections.loc.reset();
        sections.loclists.reset();
        EXPECT_EQ(elf::listRunningPastItsSection(sections), ListSection::none);
    }
}

// DIEs that cannot name a list are passed over whole, by sizes that depend
// on the unit: here a DW_FORM_ref_addr, an address in DWARF 2 and an offset
// after it, in two units that share one abbreviation table. A DIE passed
// over by the wrong size would leave the walk inside its value, short of
// the damaged list in the second unit.
TEST(LocationListGuard, DiesWithoutListsArePassedOverByTheirOwnUnitsSizes) {
    const Bytes abbrev = {1,    0x13, 0,     // code 1: a structure without children
                          0x49, 0x10,        //   DW_AT_type, DW_FORM_ref_addr
                          0x0b, 0x0b, 0, 0,  //   DW_AT_byte_size, DW_FORM_data1
                          2,    0x34, 0,     // code 2: a variable
                          0x02, kData4, 0, 0, 0};
    auto unit = [](int version, std::uint8_t addressSize, const Bytes& refAddr, std::uint32_t list) {
        Bytes body = {static_cast<unsigned char>(version), 0};
        put32(body, 0);  // abbreviation offset
        body.push_back(addressSize);
        body.push_back(1);
        body.insert(body.end(), refAddr.begin(), refAddr.end());
        body.push_back(5);  // byte size
        body.push_back(2);
        put32(body, list);  // the location list's offset
        body.push_back(0);
        Bytes out;
        put32(out, static_cast<std::uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
        return out;
    };
    Bytes info = unit(3, 4, {7, 0, 0, 0}, 0);                         // an offset: 4 bytes; a good list
    const Bytes second = unit(2, 8, {7, 0, 0, 0, 0, 0, 0, 0}, 0x40);  // an address: 8; past .debug_loc
    info.insert(info.end(), second.begin(), second.end());
    const Bytes loc(8, 0);  // one end-of-list entry of 4-byte addresses
    elf::LocationSections sections;
    sections.info = info;
    sections.abbrev = abbrev;
    sections.loc = loc;
    EXPECT_EQ(elf::listRunningPastItsSection(sections), ListSection::loc);
}

// Abbreviations found by code in any order the table gives them, numbered
// densely or not; of a code given twice, the first counts.
TEST(AbbreviationTable, CodesAreFoundInAnyOrderAndTheFirstOfTwinsCounts) {
    struct Lookup {
        std::uint64_t code;
        bool found;
        std::vector<std::uint64_t> names;  // of its attributes
    };
    struct Case {
        const char* name;
        Bytes abbrev;
        std::vector<Lookup> lookups;
    };
    const Case cases[] = {
        {"rising, dense",
         {1, 0x11, 1, 0x03, 0x08, 0x25, 0x08, 0, 0, 2, 0x34, 0, 0x02, 0x18, 0, 0, 3, 0x24, 0, 0, 0, 0},
         {{1, true, {0x03, 0x25}}, {2, true, {0x02}}, {3, true, {}}, {4, false, {}}, {0, false, {}}}},
        {"rising, with gaps",
         {1, 0x11, 1, 0x03, 0x08, 0, 0, 7, 0x34, 0, 0x02, 0x18, 0, 0, 0},
         {{7, true, {0x02}}, {2, false, {}}, {8, false, {}}}},
        {"out of order, a code twice",
         {2, 0x34, 0, 0x02, 0x18, 0, 0, 1, 0x11, 1, 0x03, 0x08, 0, 0, 2, 0x34, 0, 0x49, 0x13, 0, 0, 0},
         {{1, true, {0x03}}, {2, true, {0x02}}, {3, false, {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        elf::AbbrevTable table;
        ASSERT_TRUE(elf::readAbbrevTable(c.abbrev, 0, false, table));
        for (const Lookup& lookup : c.lookups) {
            std::span<const elf::AbbrevAttribute> attributes;
            ASSERT_EQ(table.find(lookup.code, attributes), lookup.found) << lookup.code;
            std::vector<std::uint64_t> names;
            for (const elf::AbbrevAttribute& declared : attributes) names.push_back(declared.name);
            if (lookup.found) {
                EXPECT_EQ(names, lookup.names) << lookup.code;
            }
        }
    }
    elf::AbbrevTable cut;
    EXPECT_FALSE(elf::readAbbrevTable(Bytes{1, 0x11, 0, 0x03}, 0, false, cut));
}

}  // namespace
}  // namespace kestab::test
