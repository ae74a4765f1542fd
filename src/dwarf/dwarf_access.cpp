#include "dwarf/dwarf_access.h"

#include <bit>
#include <cstdio>

namespace kestab::dw {

bool imageBigEndian(Dwarf_Debug dbg) {
    const unsigned char in[2] = {1, 2};
    unsigned char out[2] = {};
    dwarf_get_endian_copy_function(dbg)(out, in, 2);
    const bool swapped = out[0] == 2;
    return swapped != (std::endian::native == std::endian::big);
}

namespace detail {
void messageFormatDoesNotFitItsValues() {}
}  // namespace detail

// The format is not a literal here, but the constructor has checked it
// against the values handed over below.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
void Report::printMessage(const Answer& answer) const {
    // Hands `take` the value `arg` shows, in the type its conversion reads.
    auto value = [&](const Arg& arg, auto&& take) {
        const long shown = arg.shown == Shown::code ? static_cast<long>(answer.code) : answer.errorNumber;
        if (arg.conversion == Conversion::asText)
            take(answer.errorText.c_str());
        else if (arg.conversion == Conversion::asInt)
            take(static_cast<int>(shown));
        else
            take(shown);
    };
    if (count_ == 0) {
        std::fprintf(stderr, format_);
    } else if (count_ == 1) {
        value(args_[0], [&](auto first) { std::fprintf(stderr, format_, first); });
    } else {
        value(args_[0], [&](auto first) {
            value(args_[1], [&](auto second) { std::fprintf(stderr, format_, first, second); });
        });
    }
}
#pragma GCC diagnostic pop

Answer nextUnitHeader(Dwarf_Debug dbg, const Report& report) {
    Dwarf_Unsigned headerLength = 0;
    Dwarf_Half version = 0;
    Dwarf_Off abbrevOffset = 0;
    Dwarf_Half addressSize = 0;
    Dwarf_Half lengthSize = 0;
    Dwarf_Half extensionSize = 0;
    Dwarf_Sig8 signature{};
    Dwarf_Unsigned typeOffset = 0;
    Dwarf_Unsigned nextOffset = 0;
    Dwarf_Half unitType = 0;
    return ask(dbg, report, [&](Dwarf_Error* err) {
        return dwarf_next_cu_header_d(dbg, true, &headerLength, &version, &abbrevOffset, &addressSize, &lengthSize,
                                      &extensionSize, &signature, &typeOffset, &nextOffset, &unitType, err);
    });
}

}  // namespace kestab::dw
