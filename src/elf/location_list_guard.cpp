#include "elf/location_list_guard.h"

#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "elf/byte_reader.h"
#include "elf/list_entry.h"
#include "elf/unit_reader.h"

namespace kestab::elf {

namespace {

using Bytes = std::span<const unsigned char>;

constexpr std::uint64_t kAtLocation = 0x02;
constexpr std::uint64_t kAtFrameBase = 0x40;
constexpr std::uint64_t kAtLoclistsBase = 0x8c;

enum class Step { next, end, past, unknown };

// Follows lists to their end, remembering every entry from which the end
// was reached inside the section: a list that runs into one of those ends
// there too, so each entry is read once however many lists share it.
class ListFollower {
public:
    explicit ListFollower(const LocationSections& sections) : sections_(sections) {}

    // Whether the list at `offset` of .debug_loc (loclists false) or
    // .debug_loclists ends inside; true when that section is not there.
    // `addressSize` is 1 to 8.
    bool endsInside(bool loclists, std::uint64_t offset, std::uint64_t addressSize) {
        const std::optional<Bytes>& data = loclists ? sections_.loclists : sections_.loc;
        if (!data) return true;
        ByteReader in(*data, sections_.bigEndian);
        if (!in.seek(offset)) return false;
        // A bit per offset in the section (and its end), for each section
        // and address size met: no allocation per entry however many lists
        // there are.
        std::vector<bool>& reached = reachesEnd_[loclists ? 1 : 0][addressSize - 1];
        if (reached.empty()) reached.resize(data->size() + 1);
        visited_.clear();
        for (;;) {
            const std::size_t at = in.position();
            if (reached[at]) break;
            visited_.push_back(at);
            const Step step = loclists ? loclistsEntry(in, addressSize) : locEntry(in, addressSize);
            if (step == Step::past) return false;
            if (step != Step::next) break;
        }
        for (const std::size_t at : visited_) reached[at] = true;
        return true;
    }

private:
    // One entry of .debug_loc: a pair of addresses, then (unless it is the
    // end, two zeros, or a base address, the first all ones) a 2-byte
    // expression length and the expression.
    static Step locEntry(ByteReader& in, std::uint64_t addressSize) {
        std::uint64_t begin = 0, end = 0, length = 0;
        if (!in.read(static_cast<std::size_t>(addressSize), begin) ||
            !in.read(static_cast<std::size_t>(addressSize), end))
            return Step::past;
        if (begin == 0 && end == 0) return Step::end;
        if (begin == (~std::uint64_t{0} >> (64 - 8 * addressSize))) return Step::next;
        return in.read(2, length) && in.advance(length) ? Step::next : Step::past;
    }

    // One entry of .debug_loclists.
    static Step loclistsEntry(ByteReader& in, std::uint64_t addressSize) {
        ListEntry entry;
        switch (readListEntry(in, addressSize, entry)) {
            case EntryRead::entry:
                return Step::next;
            case EntryRead::endOfList:
                return Step::end;
            case EntryRead::unknownKind:
                return Step::unknown;
            case EntryRead::cut:
                break;
        }
        return Step::past;
    }

    const LocationSections& sections_;
    std::vector<bool> reachesEnd_[2][8];  // .debug_loc, .debug_loclists; address size 1 to 8
    std::vector<std::size_t> visited_;
};

bool namesList(const AbbrevAttribute& declared) {
    return declared.name == kAtLocation || declared.name == kAtFrameBase || declared.name == kAtLoclistsBase;
}

// How the walk passes over the DIEs of one abbreviation in one unit: runs
// of attributes that cannot name a list and whose values have sizes of
// their own are skipped at once; the others are read one by one.
struct DieStep {
    std::uint64_t skip = 0;                     // bytes passed over first
    const AbbrevAttribute* declared = nullptr;  // then this one read, if any
};
using DiePlan = std::span<const DieStep>;

// Appends the plan for `attributes` to `steps`.
void planFor(std::span<const AbbrevAttribute> attributes, const Unit& unit, std::vector<DieStep>& steps) {
    std::uint64_t skip = 0;
    for (const AbbrevAttribute& declared : attributes) {
        std::uint64_t size = 0;
        if (!namesList(declared) && fixedValueSize(declared.form, unit, size)) {
            skip += size;
            continue;
        }
        steps.push_back(DieStep{skip, &declared});
        skip = 0;
    }
    if (skip != 0) steps.push_back(DieStep{skip, nullptr});
}

// An abbreviation table with the plans made for it, for units of one shape
// (the sizes of some forms depend on the unit's version, address size and
// offset size). Plans are made as their codes are met, so a DIE costs at
// most one plan whatever the table's size; codes beyond the small ones that
// producers use get theirs made anew at each DIE. All plans of a table
// share one array.
class AbbrevPlans {
public:
    explicit AbbrevPlans(AbbrevTable table) : table_(std::move(table)) {}

    // The unit whose DIEs the plans are for from now on.
    void useFor(const Unit& unit) {
        if (unit.version == unit_.version && unit.addressSize == unit_.addressSize &&
            unit.offsetSize == unit_.offsetSize)
            return;
        unit_ = unit;
        planned_.clear();
        steps_.clear();
    }

    // The plan for `code`, valid until the next call; false when the table
    // has no such code.
    bool plan(std::uint64_t code, DiePlan& plan) {
        if (code < planned_.size() && planned_[code].made) {
            plan = DiePlan(steps_).subspan(planned_[code].first, planned_[code].count);
            return true;
        }
        std::span<const AbbrevAttribute> attributes;
        if (!table_.find(code, attributes)) return false;
        if (code >= kPlannedCodes) {
            scratch_.clear();
            planFor(attributes, unit_, scratch_);
            plan = scratch_;
            return true;
        }
        if (code >= planned_.size()) planned_.resize(code + 1);
        const std::size_t first = steps_.size();
        planFor(attributes, unit_, steps_);
        planned_[code] = Planned{true, first, steps_.size() - first};
        plan = DiePlan(steps_).subspan(first);
        return true;
    }

private:
    static constexpr std::uint64_t kPlannedCodes = 4096;
    struct Planned {
        bool made = false;
        std::size_t first = 0;  // in steps_
        std::size_t count = 0;
    };
    AbbrevTable table_;
    Unit unit_;  // version 0 until the first unit
    std::vector<Planned> planned_;
    std::vector<DieStep> steps_;
    std::vector<DieStep> scratch_;
};

// Follows the location lists of one unit's DIEs; false at the first list
// that runs past its section (`damaged` says which).
bool unitListsEndInside(const Unit& unit, AbbrevPlans& abbrevs, const LocationSections& sections,
                        ListFollower& lists, ListSection& damaged) {
    ByteReader in(sections.info->first(unit.end), sections.bigEndian);
    in.seek(unit.diesStart);
    abbrevs.useFor(unit);
    std::optional<std::uint64_t> loclistsBase;
    while (in.remaining() > 0) {
        std::uint64_t code = 0;
        if (!in.readLeb(code)) return true;
        if (code == 0) continue;
        DiePlan plan;
        if (!abbrevs.plan(code, plan)) return true;
        for (const DieStep& step : plan) {
            if (!in.advance(step.skip)) return true;
            if (step.declared == nullptr) continue;
            const AbbrevAttribute& declared = *step.declared;
            std::uint64_t form = declared.form;
            std::uint64_t value = 0;
            if (!readValue(in, form, unit, value)) return true;
            if (declared.name == kAtLoclistsBase && form == kFormSecOffset) loclistsBase = value;
            if (declared.name != kAtLocation && declared.name != kAtFrameBase) continue;
            const bool loclists = unit.version >= 5;
            bool list = form == kFormSecOffset || (unit.version < 4 && (form == kFormData4 || form == kFormData8));
            if (loclists && form == kFormLoclistx) {
                if (!loclistsBase || !sections.loclists) continue;  // nothing to count from
                list = true;
                const std::optional<std::uint64_t> offset =
                    indexedListOffset(*sections.loclists, *loclistsBase, value, static_cast<unsigned>(unit.offsetSize),
                                      sections.bigEndian);
                if (!offset) {
                    damaged = ListSection::loclists;
                    return false;
                }
                value = *offset;
            }
            if (list && !lists.endsInside(loclists, value, unit.addressSize)) {
                damaged = loclists ? ListSection::loclists : ListSection::loc;
                return false;
            }
        }
    }
    return true;
}

}  // namespace

ListSection listRunningPastItsSection(const LocationSections& sections) {
    if (!sections.info || !sections.abbrev) return ListSection::none;
    ListFollower lists(sections);
    std::map<std::uint64_t, std::optional<AbbrevPlans>> tables;
    ByteReader in(*sections.info, sections.bigEndian);
    while (in.remaining() > 0) {
        Unit unit;
        if (!readUnitHeader(in, unit)) {
            if (unit.end == 0 || !in.seek(unit.end)) break;  // past a unit of a kind not known here
            continue;
        }
        auto [table, added] = tables.try_emplace(unit.abbrevOffset);
        if (added) {
            AbbrevTable read;
            if (readAbbrevTable(*sections.abbrev, unit.abbrevOffset, sections.bigEndian, read))
                table->second.emplace(std::move(read));
        }
        ListSection damaged = ListSection::none;
        if (table->second && !unitListsEndInside(unit, *table->second, sections, lists, damaged)) return damaged;
        in.seek(unit.end);
    }
    return ListSection::none;
}

}  // namespace kestab::elf
