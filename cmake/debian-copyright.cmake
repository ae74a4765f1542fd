# The copyright file of the Debian package, in Debian's machine-readable
# format, written to the build directory: the licence text comes from
# LICENSE, what it says of the libraries from how the program is linked.
function(kestab_debian_copyright output)
  file(READ ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE license)
  if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.+)$")
    message(FATAL_ERROR "LICENSE: no copyright line followed by the licence text")
  endif()
  set(KESTAB_COPYRIGHT "${CMAKE_MATCH_1}")
  string(STRIP "${CMAKE_MATCH_2}" text)
  # One space before every line of the text, a lone "." for an empty one.
  string(REPLACE "\n\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " KESTAB_LICENSE_TEXT " ${text}")
  if(LIBDWARF_LIBRARY MATCHES "\\.a$")
    string(CONCAT KESTAB_LINKED_LIBRARIES
      "The program links libelf and zlib dynamically, the shared libraries of\n"
      " the Debian packages libelf1 and zlib1g (their copyright files name their\n"
      " authors and licences), and contains libdwarf ${KESTAB_LIBDWARF_VERSION},\n"
      " linked statically, which is under the GNU Lesser General Public License\n"
      " 2.1 (/usr/share/common-licenses/LGPL-2.1).")
  else()
    string(CONCAT KESTAB_LINKED_LIBRARIES
      "The program links libdwarf, libelf and zlib dynamically: it uses the\n"
      " shared libraries of the Debian packages libdwarf1, libelf1 and zlib1g,\n"
      " whose copyright files name their authors and licences. This package\n"
      " holds no code of theirs.")
  endif()
  if(KESTAB_CXX_RUNTIME_STATIC)
    string(CONCAT KESTAB_LINKED_LIBRARIES "${KESTAB_LINKED_LIBRARIES}\n"
      " GCC's C++ runtime (libstdc++, libgcc) is linked into the program\n"
      " statically, as the GCC Runtime Library Exception permits.")
  endif()
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian-copyright.in ${output} @ONLY)
endfunction()
