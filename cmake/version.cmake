# The version is written once, in project() of CMakeLists.txt: the banner,
# --version, the Debian package and the Windows zip all take it from there.
# --version also names the libdwarf the program is built with: the header's
# DW_LIBDWARF_VERSION (libdwarf 0.x and 2.x), else pkg-config's version,
# else (Debian 12's 20210528, whose header has none) what the library itself
# reports through dwarf_package_version(), asked once per library.
file(STRINGS ${LIBDWARF_INCLUDE_DIR}/libdwarf.h libdwarf_version_line REGEX "^#define DW_LIBDWARF_VERSION \"")
if(libdwarf_version_line MATCHES "\"([^\"]+)\"")
  set(KESTAB_LIBDWARF_VERSION ${CMAKE_MATCH_1})
elseif(PC_LIBDWARF_VERSION)
  set(KESTAB_LIBDWARF_VERSION ${PC_LIBDWARF_VERSION})
elseif(NOT CMAKE_CROSSCOMPILING)
  if(NOT KESTAB_LIBDWARF_REPORTED_BY STREQUAL LIBDWARF_LIBRARY)
    set(probe ${CMAKE_BINARY_DIR}/libdwarf-version/probe.c)
    file(WRITE ${probe} "#include <stdio.h>\n#include <libdwarf.h>\n"
      "int main(void) { fputs(dwarf_package_version(), stdout); return 0; }\n")
    try_run(run_status compiled ${CMAKE_BINARY_DIR}/libdwarf-version ${probe}
      CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${LIBDWARF_INCLUDE_DIR}"
      LINK_LIBRARIES ${LIBDWARF_LIBRARY} ${LIBDWARF_EXTRA_LIBRARIES} ${LIBELF_LIBRARY} ${ZLIB_LIBRARY}
      RUN_OUTPUT_VARIABLE reported)
    if(NOT compiled OR NOT run_status EQUAL 0)
      set(reported "")
    endif()
    set(KESTAB_LIBDWARF_REPORTED ${reported} CACHE INTERNAL "dwarf_package_version() of KESTAB_LIBDWARF_REPORTED_BY")
    set(KESTAB_LIBDWARF_REPORTED_BY ${LIBDWARF_LIBRARY} CACHE INTERNAL "the library asked")
  endif()
  set(KESTAB_LIBDWARF_VERSION ${KESTAB_LIBDWARF_REPORTED})
endif()
if(NOT KESTAB_LIBDWARF_VERSION)
  message(WARNING "The version of libdwarf (${LIBDWARF_LIBRARY}) was not found; --version says unknown")
  set(KESTAB_LIBDWARF_VERSION unknown)
endif()
message(STATUS "kestab ${PROJECT_VERSION}, libdwarf ${KESTAB_LIBDWARF_VERSION}")
set_property(SOURCE src/driver/about.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  KESTAB_VERSION="${PROJECT_VERSION}" KESTAB_LIBDWARF_VERSION="${KESTAB_LIBDWARF_VERSION}")
