#include "dwarf/location_lists.h"

#include <dwarf.h>

#include "elf/byte_reader.h"

namespace kestab::dw {

namespace {

// Reads the entries of a list: fixed-size values in the image's byte order
// and LEB128 numbers, never past the end of the bytes it was given.
class ListReader {
public:
    ListReader(std::span<const unsigned char> bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

    bool fixed(unsigned size, std::uint64_t& value) {
        if (size > 8 || bytes_.size() - pos_ < size) return false;
        elf::ByteReader in(bytes_.subspan(pos_, size), bigEndian_);
        pos_ += size;
        return in.read(size, value);
    }
    bool uleb(std::uint64_t& value) {
        value = 0;
        for (unsigned shift = 0; pos_ < bytes_.size(); shift += 7) {
            const unsigned char byte = bytes_[pos_++];
            if (shift < 64) value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
            if ((byte & 0x80) == 0) return true;
        }
        return false;
    }
    bool sleb(std::uint64_t& value) {
        value = 0;
        unsigned shift = 0;
        while (pos_ < bytes_.size()) {
            const unsigned char byte = bytes_[pos_++];
            if (shift < 64) value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
            shift += 7;
            if ((byte & 0x80) != 0) continue;
            if (shift < 64 && (byte & 0x40) != 0) value |= ~std::uint64_t{0} << shift;
            return true;
        }
        return false;
    }
    // A counted location description: its length, then its bytes.
    bool expression(std::span<const unsigned char>& out) {
        std::uint64_t length = 0;
        if (!uleb(length) || length > bytes_.size() - pos_) return false;
        out = bytes_.subspan(pos_, static_cast<std::size_t>(length));
        pos_ += static_cast<std::size_t>(length);
        return true;
    }

private:
    std::span<const unsigned char> bytes_;
    std::size_t pos_ = 0;
    bool bigEndian_;
};

// Reads the operands of one entry of kind `kind`; `expression` is set for
// the kinds that give a location. False for a kind DWARF 5 and GCC do not
// define, and for an entry cut off by the end of the section.
bool readEntry(ListReader& in, std::uint8_t kind, unsigned addressSize, std::span<const unsigned char>& expression,
               bool& located) {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    located = false;
    switch (kind) {
        case DW_LLE_base_addressx:
            return in.uleb(first);
        case DW_LLE_base_address:
            return in.fixed(addressSize, first);
        case kLleGnuViewPair:
            return in.uleb(first) && in.uleb(second);
        case DW_LLE_startx_endx:
        case DW_LLE_startx_length:
        case DW_LLE_offset_pair:
            located = true;
            return in.uleb(first) && in.uleb(second) && in.expression(expression);
        case DW_LLE_default_location:
            located = true;
            return in.expression(expression);
        case DW_LLE_start_end:
            located = true;
            return in.fixed(addressSize, first) && in.fixed(addressSize, second) && in.expression(expression);
        case DW_LLE_start_length:
            located = true;
            return in.fixed(addressSize, first) && in.uleb(second) && in.expression(expression);
        default:
            return false;
    }
}

}  // namespace

ListScan scanLocationList(std::span<const unsigned char> section, std::uint64_t offset, unsigned addressSize,
                          bool bigEndian) {
    ListScan scan;
    if (offset >= section.size()) return scan;
    ListReader in(section.subspan(static_cast<std::size_t>(offset)), bigEndian);
    for (;;) {
        std::uint64_t kind = 0;
        if (!in.fixed(1, kind)) return scan;
        if (kind == DW_LLE_end_of_list) break;
        std::span<const unsigned char> expression;
        bool located = false;
        if (!readEntry(in, static_cast<std::uint8_t>(kind), addressSize, expression, located)) return scan;
        scan.hasViewPair = scan.hasViewPair || kind == kLleGnuViewPair;
        if (located && scan.locations++ == 0) scan.firstExpression = expression;
    }
    scan.complete = true;
    return scan;
}

std::optional<std::uint64_t> indexedListOffset(std::span<const unsigned char> section, std::uint64_t base,
                                               std::uint64_t index, unsigned offsetSize, bool bigEndian) {
    if (offsetSize != 4 && offsetSize != 8) return std::nullopt;
    if (base > section.size() || index > (section.size() - base) / offsetSize) return std::nullopt;
    ListReader in(section.subspan(static_cast<std::size_t>(base + index * offsetSize)), bigEndian);
    std::uint64_t offset = 0;
    if (!in.fixed(offsetSize, offset) || offset > section.size() - base) return std::nullopt;
    return base + offset;
}

std::optional<LeadingOperation> firstOperation(std::span<const unsigned char> expression, unsigned addressSize,
                                        bool bigEndian) {
    ListReader in(expression, bigEndian);
    std::uint64_t atom = 0;
    if (!in.fixed(1, atom)) return std::nullopt;
    LeadingOperation operation{static_cast<std::uint8_t>(atom), 0};
    bool read = true;
    if ((atom >= DW_OP_breg0 && atom <= DW_OP_breg31) || atom == DW_OP_fbreg)
        read = in.sleb(operation.operand);
    else if (atom == DW_OP_addr)
        read = in.fixed(addressSize, operation.operand);
    else if (atom == DW_OP_addrx || atom == DW_OP_GNU_addr_index)
        read = in.uleb(operation.operand);
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

}  // namespace kestab::dw
