# Cross-builds 64-bit Windows console programs with Debian's MinGW-w64
# (POSIX-threads variant, so std::thread works), linked statically: the
# .exe needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTAB_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTAB_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTAB_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTAB_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW sysroot and from prefixes named
# in CMAKE_PREFIX_PATH (the cross-built libdwarf), never from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTAB_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
# Debian's libz-mingw-w64-dev has both libz.a and the import library
# libz.dll.a; without this FindZLIB takes the latter and the program needs
# zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine.
find_program(KESTAB_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KESTAB_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTAB_WINE64})
endif()
