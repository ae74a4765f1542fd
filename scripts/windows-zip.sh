#!/usr/bin/env bash
# Writes the Windows download, <build-dir>/kestab-<version>-windows-x64.zip,
# from a build of scripts/build-windows.sh: kestab.exe as built (stripped,
# and the file the tests ran), README.txt (the README's settings and Windows
# sections as plain text), LICENSE.txt and THIRD-PARTY-NOTICES.txt, all text
# with CR LF line ends. The licence texts of what kestab.exe contains are
# copied from the sources it was built from: libdwarf's tarball, zlib's
# header and Debian's copyright file of the MinGW-w64 runtime.
# Usage: scripts/windows-zip.sh <build-dir> <libdwarf tarball>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ne 2 ]; then
  echo "usage: $0 <build-dir> <libdwarf tarball>" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
tarball=$2
cache=$build/kestab/CMakeCache.txt
cached() { sed -n "s/^$1:[A-Z]*=//p" "$cache"; }
version=$(cached CMAKE_PROJECT_VERSION)
[ -n "$version" ] || { echo "no project version in $cache" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
mkdir -p "$stage"

crlf() { sed 's/\r$//; s/$/\r/'; }

# The README's title and first paragraph, then its settings and Windows
# sections without their subsections on building: Markdown marks removed,
# headings underlined, code blocks indented.
readme_text() {
  awk -v wanted="Settings: where the toolkit is found|Windows" '
    BEGIN { n = split(wanted, w, "|"); for (i = 1; i <= n; i++) keep[w[i]] = 1 }
    /^```/ { code = !code; next }
    !code && /^#+ / {
      level = index($0, " ") - 1
      title = substr($0, level + 2)
      printing = (level == 1 || title in keep)
      if (!printing) next
      gsub(/ — /, " - ", title)
      rule = title
      gsub(/./, level == 1 ? "=" : "-", rule)
      print title; print rule
      next
    }
    !printing { next }
    code { print ($0 == "" ? "" : "    " $0); next }
    { gsub(/`/, ""); gsub(/\*\*/, ""); gsub(/\[Windows\]\(#windows\)/, "Windows"); print }
  ' "$root/README.md" | cat -s
}

notices() {
  local src=$work/libdwarf lib
  mkdir -p "$src"
  tar -xJf "$tarball" -C "$src" --strip-components=1
  lib=$src/src/lib/libdwarf
  local dwarf_version zlib_h zlib_version mingw_version gcc_version sha
  dwarf_version=$(sed -n 's/^#define DW_LIBDWARF_VERSION "\(.*\)"/\1/p' "$lib/libdwarf.h")
  zlib_h=$(cached ZLIB_INCLUDE_DIR)/zlib.h
  zlib_version=$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' "$zlib_h")
  mingw_version=$(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev)
  gcc_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
  sha=$(sha256sum "$tarball" | cut -d' ' -f1)
  local bsd
  bsd=$(grep -l "Redistribution and use" "$lib"/*.[ch] | sort)

  cat <<EOF
Third-party notices for kestab.exe
==================================

kestab.exe (kestab $version) is one statically linked program. Besides
kestab's own code (MIT licence, LICENSE.txt) it contains:

- libdwarf $dwarf_version, under the GNU Lesser General Public License 2.1;
  some of its files are under the two-clause BSD licence;
- zlib $zlib_version, under the zlib licence;
- the MinGW-w64 runtime (start-up code, parts of the C library, and the
  POSIX threads library winpthreads), from Debian's mingw-w64-x86-64-dev
  $mingw_version, under the licences of its copyright file below;
- GCC's runtime libraries (libstdc++ and libgcc), from Debian's
  g++-mingw-w64-x86-64-posix $gcc_version, under the GNU General
  Public License 3 with the GCC Runtime Library Exception 3.1, which places
  no conditions on programs compiled with GCC.


libdwarf
--------

The exact source used is the tarball $(basename "$tarball"), SHA-256
$sha.
The one kestab is built with is kept with kestab's source, in shared/deps/
beside the kestab repository: libdwarf-2.3.1.tar.xz, libdwarf's release
v2.3.1 (https://github.com/davea42/libdwarf-code, tag v2.3.1) trimmed to
what builds the library. libdwarf was built without decompression (no zlib
or zstd inside libdwarf).

To relink kestab.exe with a libdwarf of your own (modified or not): on
Debian 12, with kestab's source, make a tarball of that libdwarf source
(0.x or 2.x interface, one top directory) and run

    LIBDWARF2_TARBALL=/path/to/your-libdwarf.tar.xz bash scripts/build-windows.sh

It cross-builds your libdwarf with MinGW-w64, builds kestab from its source
and links it against your libdwarf, and tests it under Wine; the result is
build-windows/kestab/kestab.exe, and build-windows/kestab-<version>-windows-x64.zip
with these notices made from your libdwarf's source.

libdwarf's copyright notice (src/lib/libdwarf/LIBDWARFCOPYRIGHT):

$(cat "$lib/LIBDWARFCOPYRIGHT")

These files of libdwarf are under the two-clause BSD licence:
$(for f in $bsd; do basename "$f"; done | fmt -w 72)

Their copyright lines:

$(grep -h -iE '^[/* ]*copyright (\(c\) )?[0-9]' $bsd | sed 's|^[/* ]*||; s/[[:space:]]*$//' | sort -u)

and their licence, in the words of $(basename "$(head -n 1 <<<"$bsd")"):

$(sed -n '/Redistribution and use/,/SUCH DAMAGE\./p' "$(head -n 1 <<<"$bsd")" | sed 's/[[:space:]]*\*\/[[:space:]]*$//')

The GNU Lesser General Public License 2.1 (src/lib/libdwarf/LGPL.txt):

$(cat "$lib/LGPL.txt")


zlib
----

zlib $zlib_version, from its header zlib.h (Debian's libz-mingw-w64-dev
$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)):

$(sed -n '/Copyright (C)/,/madler@/p' "$zlib_h")


MinGW-w64 runtime
-----------------

Debian's copyright file of mingw-w64-x86-64-dev $mingw_version
(/usr/share/doc/mingw-w64-x86-64-dev/copyright), which covers the runtime:

$(cat /usr/share/doc/mingw-w64-x86-64-dev/copyright)
EOF
}

cp "$build/kestab/kestab.exe" "$stage/kestab.exe"
readme_text | crlf >"$stage/README.txt"
crlf <"$root/LICENSE" >"$stage/LICENSE.txt"
notices | crlf >"$stage/THIRD-PARTY-NOTICES.txt"

zip=$build/kestab-$version-windows-x64.zip
rm -f "$zip"
(cd "$stage" && zip -q -X "$zip" kestab.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt)
echo "$zip"
