# kestab.exe for Windows, cross-built on Debian with cmake/mingw-w64-x86_64.cmake
# (scripts/build-windows.sh): libdwarf 2.x linked statically from
# CMAKE_PREFIX_PATH, no libelf (the image checks use src/elf/elf_image.h),
# the Windows files of src/platform (*_win.cpp) in place of the POSIX ones.
find_path(LIBDWARF_INCLUDE_DIR libdwarf.h PATH_SUFFIXES libdwarf-2 libdwarf-0 libdwarf REQUIRED)
find_library(LIBDWARF_LIBRARY dwarf REQUIRED)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

file(GLOB KESTAB_LIB_SOURCES CONFIGURE_DEPENDS
  src/driver/*.cpp src/tables/*.cpp src/elf/*.cpp src/dwarf/*.cpp src/symbols/*.cpp src/mapout/*.cpp
  src/platform/*.cpp)
list(FILTER KESTAB_LIB_SOURCES EXCLUDE REGEX ".*/src/driver/main\\.cpp$")
list(FILTER KESTAB_LIB_SOURCES EXCLUDE REGEX "_posix\\.cpp$")
# The libelf-based damage check; image_checks.cpp answers the same without.
list(FILTER KESTAB_LIB_SOURCES EXCLUDE REGEX ".*/src/elf/section_guard\\.cpp$")

add_library(kestab_core STATIC ${KESTAB_LIB_SOURCES})
target_include_directories(kestab_core PUBLIC src)
target_include_directories(kestab_core SYSTEM PRIVATE ${LIBDWARF_INCLUDE_DIR})
# libdwarf's header declares its functions dllimport unless told it is static.
target_compile_definitions(kestab_core PUBLIC LIBDWARF_STATIC)
target_link_libraries(kestab_core PUBLIC ${LIBDWARF_LIBRARY} ZLIB::ZLIB Threads::Threads)

add_executable(kestab src/driver/main.cpp)
target_link_libraries(kestab PRIVATE kestab_core)
include(cmake/version.cmake)
# Stripped: the program that is tested is the one that is shipped.
target_link_options(kestab PRIVATE -s)

if(KESTAB_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()
