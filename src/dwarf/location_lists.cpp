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

namespace {

// How the operands of a plain operation are encoded.
enum class Operands : std::uint8_t { unknown, none, fixed1, fixed2, fixed4, fixed8, address, uleb, sleb, ulebSleb };

Operands operandsOf(std::uint8_t atom) {
    if (atom >= DW_OP_lit0 && atom <= DW_OP_reg31) return Operands::none;
    if (atom >= DW_OP_breg0 && atom <= DW_OP_breg31) return Operands::sleb;
    switch (atom) {
        case DW_OP_addr:
            return Operands::address;
        case DW_OP_const1u:
        case DW_OP_const1s:
        case DW_OP_pick:
        case DW_OP_deref_size:
        case DW_OP_xderef_size:
            return Operands::fixed1;
        case DW_OP_const2u:
        case DW_OP_const2s:
            return Operands::fixed2;
        case DW_OP_const4u:
        case DW_OP_const4s:
            return Operands::fixed4;
        case DW_OP_const8u:
        case DW_OP_const8s:
            return Operands::fixed8;
        case DW_OP_constu:
        case DW_OP_plus_uconst:
        case DW_OP_regx:
        case DW_OP_piece:
            return Operands::uleb;
        case DW_OP_consts:
        case DW_OP_fbreg:
            return Operands::sleb;
        case DW_OP_bregx:
            return Operands::ulebSleb;
        case DW_OP_deref:
        case DW_OP_dup:
        case DW_OP_drop:
        case DW_OP_over:
        case DW_OP_swap:
        case DW_OP_rot:
        case DW_OP_xderef:
        case DW_OP_abs:
        case DW_OP_and:
        case DW_OP_div:
        case DW_OP_minus:
        case DW_OP_mod:
        case DW_OP_mul:
        case DW_OP_neg:
        case DW_OP_not:
        case DW_OP_or:
        case DW_OP_plus:
        case DW_OP_shl:
        case DW_OP_shr:
        case DW_OP_shra:
        case DW_OP_xor:
        case DW_OP_eq:
        case DW_OP_ge:
        case DW_OP_gt:
        case DW_OP_le:
        case DW_OP_lt:
        case DW_OP_ne:
        case DW_OP_nop:
        case DW_OP_stack_value:
            return Operands::none;
        default:
            return Operands::unknown;
    }
}

// Passes over one LEB128 number of at most five bytes.
bool skipShortLeb(elf::ByteReader& in) {
    for (int i = 0; i < 5; ++i) {
        std::uint64_t byte = 0;
        if (!in.read(1, byte)) return false;
        if ((byte & 0x80) == 0) return true;
    }
    return false;
}

}  // namespace

bool expressionReadsCleanly(std::span<const unsigned char> expression, unsigned addressSize) {
    elf::ByteReader in(expression, false);
    while (in.remaining() > 0) {
        std::uint64_t atom = 0;
        in.read(1, atom);
        bool read = true;
        switch (operandsOf(static_cast<std::uint8_t>(atom))) {
            case Operands::unknown:
                return false;
            case Operands::none:
                break;
            case Operands::fixed1:
                read = in.advance(1);
                break;
            case Operands::fixed2:
                read = in.advance(2);
                break;
            case Operands::fixed4:
                read = in.advance(4);
                break;
            case Operands::fixed8:
                read = in.advance(8);
                break;
            case Operands::address:
                read = (addressSize == 4 || addressSize == 8) && in.advance(addressSize);
                break;
            case Operands::uleb:
            case Operands::sleb:
                read = skipShortLeb(in);
                break;
            case Operands::ulebSleb:
                read = skipShortLeb(in) && skipShortLeb(in);
                break;
        }
        if (!read) return false;
    }
    return true;
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
