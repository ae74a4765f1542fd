#include "symbols/removed_function.h"

namespace kestab::dw {

bool isRemovedFunction(const CodeRange& range, bool sectionAtZero) {
    if (range.hasLow && range.hasHigh && range.end <= range.low) return true;
    const bool highIsAddress = range.hasHigh && !range.highIsLength;
    return range.hasLow && range.low == 0 && !highIsAddress && !sectionAtZero;
}

}  // namespace kestab::dw
