// The handles behind a DebugReader, for the passes that read through it.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "dwarf/debug_reader.h"
#include "dwarf/dwarf_access.h"
#include "dwarf/line_rows.h"
#include "elf/handle.h"

namespace kestab {

namespace elf {
class ElfImage;
}

// Members end in reverse order: the libdwarf reader is finished before the
// ELF handle it reads from is ended.
struct DebugReader::Handles {
#ifdef KESTAB_HAVE_LIBELF
    elf::ElfHandle elf;
#else
    // The image as read for its checks.
    std::shared_ptr<const elf::ElfImage> image;
#endif
    dw::DebugHandle dbg;
    // The units' line-table rows, decoded by the DIE walk for the line-table pass.
    dw::LineTables lineTables;
    // Some allocated section starts at 0 (see symbols/removed_function.h);
    // found when the image is opened.
    bool sectionAtZero = false;
    // The bytes of the image's DWARF sections, where they are known.
    std::uint64_t debugBytes = 0;

    // The contents of a debugging section that libdwarf does not hand out
    // (elf/image_checks.h's debugSectionContents), and the image's byte
    // order; false when the image has no such section.
    bool debugSection(std::string_view name, std::vector<unsigned char>& contents, bool& bigEndian) const;
};

}  // namespace kestab
