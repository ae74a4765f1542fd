#include "mapout/type_resolver.h"

#include <vector>

namespace kestab {

namespace {
// The base type encodings (DW_AT_encoding) that make a symbol unsigned.
constexpr std::int32_t kEncodingUnsigned = 7;      // DW_ATE_unsigned
constexpr std::int32_t kEncodingUnsignedChar = 8;  // DW_ATE_unsigned_char
}  // namespace

void TypeResolver::run(MapModel& model) {
    std::vector<std::uint32_t> dims;
    for (SymbolEntry& symbol : model.symbols) {
        std::uint32_t flags = symbol.typeFlags;
        std::uint32_t byteSize = 0;
        std::int32_t encoding = 0;
        dims.clear();
        model.types.lookup(symbol.typeRef, byteSize, encoding, dims);
        switch (byteSize) {
            case 2: flags |= symflag::kSize2; break;
            case 4: flags |= symflag::kSize4; break;
            case 8: flags |= symflag::kSize8; break;
            default: break;
        }
        if (encoding == kEncodingUnsigned || encoding == kEncodingUnsignedChar) flags |= symflag::kUnsigned;
        if (model.types.isArray(symbol.typeRef)) {
            symbol.aux2 = model.dimensionCount();
            model.dimensions.push_back(static_cast<std::uint32_t>(dims.size()));
            model.dimensions.insert(model.dimensions.end(), dims.begin(), dims.end());
            flags |= symflag::kArray;
        }
        symbol.typeFlags = flags;
    }
}

}  // namespace kestab
