#include "elf/list_entry.h"

namespace kestab::elf {

namespace {

// A counted location description: its length, then its bytes.
bool readExpression(ByteReader& in, ListEntry& entry) {
    std::uint64_t length = 0;
    entry.located = true;
    return in.readLeb(length) && in.take(length, entry.expression);
}

}  // namespace

EntryRead readListEntry(ByteReader& in, std::uint64_t addressSize, ListEntry& entry) {
    entry = ListEntry{};
    std::uint64_t kind = 0;
    if (!in.read(1, kind)) return EntryRead::cut;
    entry.kind = static_cast<std::uint8_t>(kind);
    const auto address = [&in, addressSize](std::uint64_t& value) {
        return addressSize >= 1 && addressSize <= 8 && in.read(static_cast<std::size_t>(addressSize), value);
    };
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    bool read = false;
    switch (kind) {
        case 0x00:  // DW_LLE_end_of_list
            return EntryRead::endOfList;
        case 0x01:  // DW_LLE_base_addressx
            read = in.readLeb(first);
            break;
        case 0x02:  // DW_LLE_startx_endx
        case 0x03:  // DW_LLE_startx_length
        case 0x04:  // DW_LLE_offset_pair
            read = in.readLeb(first) && in.readLeb(second) && readExpression(in, entry);
            break;
        case 0x05:  // DW_LLE_default_location
            read = readExpression(in, entry);
            break;
        case 0x06:  // DW_LLE_base_address
            read = address(first);
            break;
        case 0x07:  // DW_LLE_start_end
            read = address(first) && address(second) && readExpression(in, entry);
            break;
        case 0x08:  // DW_LLE_start_length
            read = address(first) && in.readLeb(second) && readExpression(in, entry);
            break;
        case kLleGnuViewPair:
            read = in.readLeb(first) && in.readLeb(second);
            break;
        default:
            return EntryRead::unknownKind;
    }
    return read ? EntryRead::entry : EntryRead::cut;
}

std::optional<std::uint64_t> indexedListOffset(std::span<const unsigned char> section, std::uint64_t base,
                                               std::uint64_t index, unsigned offsetSize, bool bigEndian) {
    if (offsetSize != 4 && offsetSize != 8) return std::nullopt;
    if (base > section.size() || index > (section.size() - base) / offsetSize) return std::nullopt;
    ByteReader in(section, bigEndian);
    std::uint64_t offset = 0;
    if (!in.seek(base + index * offsetSize) || !in.read(offsetSize, offset) || offset > section.size() - base)
        return std::nullopt;
    return base + offset;
}

}  // namespace kestab::elf
