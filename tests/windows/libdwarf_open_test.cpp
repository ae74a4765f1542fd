// The cross-built libdwarf 2.x opens images from a descriptor (no libelf)
// and walks their units under Windows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <filesystem>
#include <string>

#include "dwarf.h"
#include "libdwarf.h"

namespace {

namespace fs = std::filesystem;

struct Opened {
    int code = DW_DLV_ERROR;
    int units = 0;
};

// Opens the image with dwarf_init_b and counts its units in .debug_info.
Opened openAndCount(const std::string& relative) {
    const fs::path image = fs::path(KESTAB_FIXTURE_DIR) / relative;
    const int fd = ::_open(image.string().c_str(), _O_RDONLY | _O_BINARY);
    EXPECT_GE(fd, 0) << image;
    Opened result;
    Dwarf_Debug dbg = nullptr;
    Dwarf_Error err = nullptr;
    result.code = dwarf_init_b(fd, DW_GROUPNUMBER_ANY, nullptr, nullptr, &dbg, &err);
    if (result.code == DW_DLV_ERROR) dwarf_dealloc_error(dbg, err);
    if (result.code == DW_DLV_OK) {
        for (;;) {
            Dwarf_Die unit = nullptr;
            Dwarf_Unsigned length = 0, next = 0;
            Dwarf_Half version = 0, addressSize = 0, lengthSize = 0, extensionSize = 0, unitType = 0;
            Dwarf_Off abbrev = 0, typeOffset = 0;
            Dwarf_Sig8 signature{};
            const int code =
                dwarf_next_cu_header_e(dbg, true, &unit, &length, &version, &abbrev, &addressSize, &lengthSize,
                                       &extensionSize, &signature, &typeOffset, &next, &unitType, &err);
            if (code != DW_DLV_OK) break;
            dwarf_dealloc_die(unit);
            ++result.units;
        }
        dwarf_finish(dbg);
    }
    ::_close(fd);
    return result;
}

TEST(LibdwarfOnWindows, OpensFromTheDescriptor) {
    const Opened multi = openAndCount("gcc/multi.tmp");
    EXPECT_EQ(multi.code, DW_DLV_OK);
    EXPECT_EQ(multi.units, 4);  // arm-none-eabi-readelf --debug-dump=info
    EXPECT_EQ(openAndCount("misc/text.tmp").code, DW_DLV_NO_ENTRY);
}

}  // namespace
