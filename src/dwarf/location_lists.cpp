#include "dwarf/location_lists.h"

#include <dwarf.h>

#include "elf/byte_reader.h"

namespace kestab::dw {

ListScan scanLocationList(std::span<const unsigned char> section, std::uint64_t offset, unsigned addressSize,
                          bool bigEndian) {
    ListScan scan;
    elf::ByteReader in(section, bigEndian);
    if (offset >= section.size() || !in.seek(offset)) {
        scan.cut = true;
        return scan;
    }
    for (;;) {
        elf::ListEntry entry;
        const elf::EntryRead read = elf::readListEntry(in, addressSize, entry);
        if (read == elf::EntryRead::endOfList) break;
        scan.cut = read == elf::EntryRead::cut;
        if (read != elf::EntryRead::entry) return scan;
        scan.hasViewPair = scan.hasViewPair || entry.kind == kLleGnuViewPair;
        if (entry.located && scan.locations++ == 0) scan.firstExpression = entry.expression;
    }
    scan.complete = true;
    return scan;
}

std::optional<LeadingOperation> firstOperation(std::span<const unsigned char> expression, unsigned addressSize,
                                               bool bigEndian) {
    elf::ByteReader in(expression, bigEndian);
    std::uint64_t atom = 0;
    if (!in.read(1, atom)) return std::nullopt;
    LeadingOperation operation{static_cast<std::uint8_t>(atom), 0};
    bool read = true;
    if ((atom >= DW_OP_breg0 && atom <= DW_OP_breg31) || atom == DW_OP_fbreg) {
        std::int64_t operand = 0;
        read = in.readSleb(operand);
        operation.operand = static_cast<std::uint64_t>(operand);
    } else if (atom == DW_OP_addr) {
        read = addressSize >= 1 && addressSize <= 8 && in.read(addressSize, operation.operand);
    } else if (atom == DW_OP_addrx || atom == DW_OP_GNU_addr_index) {
        read = in.readLeb(operation.operand);
    }
    if (!read) return std::nullopt;
    return operation;
}

const std::vector<unsigned char>* LocationListSection::contents(bool& bigEndian) {
    if (!tried_) {
        tried_ = true;
        loaded_ = loader_ && loader_(contents_, bigEndian_);
    }
    bigEndian = bigEndian_;
    return loaded_ ? &contents_ : nullptr;
}

std::optional<std::uint64_t> LocationListSection::unitBase(std::uint64_t unitOffset,
                                                           const std::function<std::optional<std::uint64_t>()>& read) {
    if (baseUnit_ != unitOffset) {
        base_ = read();
        baseUnit_ = unitOffset;
    }
    return base_;
}

}  // namespace kestab::dw
