#include "elf/unit_reader.h"

#include <algorithm>

namespace kestab::elf {

namespace {

// clang-format off
enum Form : std::uint64_t {
    kAddr = 0x01, kBlock2 = 0x03, kBlock4 = 0x04, kData2 = 0x05, kData4 = kFormData4, kData8 = kFormData8,
    kString = 0x08, kBlock = 0x09, kBlock1 = 0x0a, kData1 = 0x0b, kFlag = 0x0c, kSdata = 0x0d, kStrp = 0x0e,
    kUdata = 0x0f, kRefAddr = 0x10, kRef1 = 0x11, kRef2 = 0x12, kRef4 = 0x13, kRef8 = 0x14, kRefUdata = 0x15,
    kIndirect = 0x16, kSecOffset = kFormSecOffset, kExprloc = 0x18, kFlagPresent = 0x19, kStrx = 0x1a,
    kAddrx = 0x1b, kRefSup4 = 0x1c, kStrpSup = 0x1d, kData16 = 0x1e, kLineStrp = 0x1f, kRefSig8 = 0x20,
    kImplicitConst = 0x21, kLoclistx = kFormLoclistx, kRnglistx = 0x23, kRefSup8 = 0x24, kStrx1 = 0x25,
    kStrx2 = 0x26, kStrx3 = 0x27, kStrx4 = 0x28, kAddrx1 = 0x29, kAddrx2 = 0x2a, kAddrx3 = 0x2b, kAddrx4 = 0x2c,
    kGnuAddrIndex = 0x1f01, kGnuStrIndex = 0x1f02, kGnuRefAlt = 0x1f20, kGnuStrpAlt = 0x1f21,
};

}  // namespace

bool fixedValueSize(std::uint64_t form, const Unit& unit, std::uint64_t& size) {
    switch (form) {
        case kAddr: size = unit.addressSize; return true;
        case kData1: case kRef1: case kFlag: case kStrx1: case kAddrx1: size = 1; return true;
        case kData2: case kRef2: case kStrx2: case kAddrx2: size = 2; return true;
        case kStrx3: case kAddrx3: size = 3; return true;
        case kData4: case kRef4: case kRefSup4: case kStrx4: case kAddrx4: size = 4; return true;
        case kData8: case kRef8: case kRefSig8: case kRefSup8: size = 8; return true;
        case kData16: size = 16; return true;
        case kStrp: case kSecOffset: case kLineStrp: case kStrpSup: case kGnuRefAlt: case kGnuStrpAlt:
            size = unit.offsetSize; return true;
        case kRefAddr: size = unit.version == 2 ? unit.addressSize : unit.offsetSize; return true;
        case kFlagPresent: case kImplicitConst: size = 0; return true;
        default: return false;
    }
}
// clang-format on

bool readUnitHeader(ByteReader& in, Unit& unit) {
    std::uint64_t length = 0;
    if (!in.read(4, length)) return false;
    if (length == 0xffffffffu) {
        unit.offsetSize = 8;
        if (!in.read(8, length)) return false;
    } else if (length >= 0xfffffff0u) {
        return false;
    }
    if (length > in.remaining()) return false;
    unit.end = in.position() + static_cast<std::size_t>(length);
    std::uint64_t unitType = 1;
    if (!in.read(2, unit.version) || unit.version < 2 || unit.version > 5) return false;
    if (unit.version == 5 && !(in.read(1, unitType) && in.read(1, unit.addressSize))) return false;
    if (!in.read(static_cast<std::size_t>(unit.offsetSize), unit.abbrevOffset)) return false;
    if (unit.version < 5 && !in.read(1, unit.addressSize)) return false;
    if (unitType == 4 || unitType == 5) {  // skeleton, split compile: a unit id
        if (!in.advance(8)) return false;
    } else if (unitType == 2 || unitType == 6) {  // type units: a signature and an offset
        if (!in.advance(8 + unit.offsetSize)) return false;
    } else if (unitType != 1 && unitType != 3) {
        return false;
    }
    unit.diesStart = in.position();
    return unit.addressSize >= 1 && unit.addressSize <= 8 && unit.diesStart <= unit.end;
}

void AbbrevTable::endAbbreviation(std::uint64_t code) {
    // While the table is read, its abbreviations' attributes follow one
    // another in attributes_.
    const std::size_t first = entries_.empty() ? 0 : entries_.back().first + entries_.back().count;
    if (!entries_.empty() && code <= entries_.back().code) increasing_ = false;
    entries_.push_back(Entry{code, first, attributes_.size() - first});
}

void AbbrevTable::finish() {
    // In code order; of a code given twice, the first stays in front.
    if (!increasing_)
        std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.code < b.code; });
}

bool AbbrevTable::find(std::uint64_t code, std::span<const AbbrevAttribute>& attributes) const {
    // Producers number their abbreviations 1, 2, 3, ...
    const Entry* entry = nullptr;
    if (increasing_ && code != 0 && code <= entries_.size() && entries_[code - 1].code == code) {
        entry = &entries_[code - 1];
    } else {
        const auto at = std::lower_bound(entries_.begin(), entries_.end(), code,
                                         [](const Entry& e, std::uint64_t c) { return e.code < c; });
        if (at == entries_.end() || at->code != code) return false;
        entry = &*at;
    }
    attributes = std::span<const AbbrevAttribute>(attributes_).subspan(entry->first, entry->count);
    return true;
}

bool readAbbrevTable(std::span<const unsigned char> abbrev, std::uint64_t offset, bool bigEndian, AbbrevTable& table) {
    ByteReader in(abbrev, bigEndian);
    if (!in.seek(offset)) return false;
    for (;;) {
        std::uint64_t code = 0, tag = 0, children = 0;
        if (!in.readLeb(code)) return false;
        if (code == 0) break;
        if (!in.readLeb(tag) || !in.read(1, children)) return false;
        for (;;) {
            AbbrevAttribute declared;
            if (!in.readLeb(declared.name) || !in.readLeb(declared.form)) return false;
            if (declared.name == 0 && declared.form == 0) break;
            std::uint64_t constant = 0;
            if (declared.form == kImplicitConst && !in.readLeb(constant)) return false;
            table.addAttribute(declared);
        }
        table.endAbbreviation(code);
    }
    table.finish();
    return true;
}

bool readValue(ByteReader& in, std::uint64_t& form, const Unit& unit, std::uint64_t& value) {
    value = 0;
    for (int hops = 0; form == kIndirect; ++hops)
        if (hops == 4 || !in.readLeb(form)) return false;
    std::uint64_t size = 0;
    if (fixedValueSize(form, unit, size))
        return size <= 8 ? in.read(static_cast<std::size_t>(size), value) : in.advance(size);
    std::uint64_t length = 0;
    switch (form) {
        case kUdata:
        case kSdata:
        case kRefUdata:
        case kStrx:
        case kAddrx:
        case kLoclistx:
        case kRnglistx:
        case kGnuAddrIndex:
        case kGnuStrIndex:
            return in.readLeb(value);
        case kString:
            for (std::uint64_t c = 1; c != 0;)
                if (!in.read(1, c)) return false;
            return true;
        case kBlock1:
            return in.read(1, length) && in.advance(length);
        case kBlock2:
            return in.read(2, length) && in.advance(length);
        case kBlock4:
            return in.read(4, length) && in.advance(length);
        case kBlock:
        case kExprloc:
            return in.readLeb(length) && in.advance(length);
        default:
            return false;
    }
}

}  // namespace kestab::elf
