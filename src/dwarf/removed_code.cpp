#include "dwarf/removed_code.h"

#ifdef KESTAB_HAVE_LIBELF
#include <gelf.h>
#include <libelf.h>
#endif

namespace kestab::dw {

bool isRemovedFunction(const CodeRange& range, bool sectionAtZero) {
    if (range.hasLow && range.hasHigh && range.end <= range.low) return true;
    const bool highIsAddress = range.hasHigh && !range.highIsLength;
    return range.hasLow && range.low == 0 && !highIsAddress && !sectionAtZero;
}

#ifdef KESTAB_HAVE_LIBELF
bool allocatedSectionAtZero(Elf* elf) {
    if (elf == nullptr) return false;
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(elf, section)) != nullptr) {
        GElf_Shdr header;
        // A header that cannot be read might be the one at 0: keep functions there.
        if (gelf_getshdr(section, &header) == nullptr) return true;
        if ((header.sh_flags & SHF_ALLOC) != 0 && header.sh_addr == 0 && header.sh_size > 0) return true;
    }
    return false;
}
#endif

}  // namespace kestab::dw
