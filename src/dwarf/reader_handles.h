// The handles behind a DebugReader, for the passes that read through it.
#pragma once

#include "dwarf/debug_reader.h"
#include "dwarf/dwarf_access.h"
#include "elf/handle.h"

namespace kestab {

// Members end in reverse order: the libdwarf reader is finished before the
// ELF handle it reads from is ended.
struct DebugReader::Handles {
#ifdef KESTAB_HAVE_LIBELF
    elf::ElfHandle elf;
#endif
    dw::DebugHandle dbg;
    // Some allocated section starts at 0 (see symbols/removed_function.h);
    // found when the image is opened.
    bool sectionAtZero = false;
};

}  // namespace kestab
