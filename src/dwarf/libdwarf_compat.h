// The few libdwarf calls that differ between the two API generations kestab
// builds against: the 2021 releases (Debian 12's 20210528) and 0.x/2.x
// (Debian 13, Ubuntu 24.04, Fedora, Homebrew). The newer headers define
// DW_LIBDWARF_VERSION_MAJOR; every other call is the same in both.
#pragma once

#include <dwarf.h>
#include <libdwarf.h>
#ifdef KESTAB_HAVE_LIBELF
#include <libelf.h>
#else
// Without libelf (the Windows build) the ELF reader of elf_image.h checks
// the image, and only 0.x/2.x, which read the file themselves, can open it.
struct Elf;
#endif

#if defined(DW_LIBDWARF_VERSION_MAJOR)
#define KESTAB_LIBDWARF_NEW_API 1
#else
#define KESTAB_LIBDWARF_NEW_API 0
#ifndef KESTAB_HAVE_LIBELF
#error "A build without libelf needs libdwarf 0.x or 2.x"
#endif
#endif

namespace kestab::dw {

// Opens the reader on an image that libelf has already opened and checked.
// The 2021 library reads through `elf`; 0.x/2.x dropped that entry and
// reads the same file through `fd` (which stays the caller's). Answers as
// the libdwarf call did.
inline int initReader(Elf* elf, int fd, Dwarf_Debug* dbg, Dwarf_Error* err) {
#if KESTAB_LIBDWARF_NEW_API
    (void)elf;
    return dwarf_init_b(fd, DW_GROUPNUMBER_ANY, nullptr, nullptr, dbg, err);
#else
    (void)fd;
    return dwarf_elf_init(elf, DW_DLC_READ, nullptr, nullptr, dbg, err);
#endif
}

// Finishes the reader and frees everything libdwarf still holds for it.
inline int finishReader(Dwarf_Debug dbg) {
#if KESTAB_LIBDWARF_NEW_API
    return dwarf_finish(dbg);
#else
    // Its error descriptor would outlive the reader it belongs to; unused.
    Dwarf_Error err = nullptr;
    return dwarf_finish(dbg, &err);
#endif
}

// Frees what dwarf_get_loclist_c gave.
inline void deallocLocHead(Dwarf_Loc_Head_c head) {
#if KESTAB_LIBDWARF_NEW_API
    dwarf_dealloc_loc_head_c(head);
#else
    dwarf_loc_head_c_dealloc(head);
#endif
}

// Frees the CIE and FDE lists dwarf_get_fde_list gave.
inline void deallocFdeLists(Dwarf_Debug dbg, Dwarf_Cie* cies, Dwarf_Signed cieCount, Dwarf_Fde* fdes,
                            Dwarf_Signed fdeCount) {
#if KESTAB_LIBDWARF_NEW_API
    dwarf_dealloc_fde_cie_list(dbg, cies, cieCount, fdes, fdeCount);
#else
    dwarf_fde_cie_list_dealloc(dbg, cies, cieCount, fdes, fdeCount);
#endif
}

}  // namespace kestab::dw
