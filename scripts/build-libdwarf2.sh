#!/usr/bin/env bash
# Builds libdwarf 2.x (the API generation of Debian 13, Ubuntu 24.04, Fedora
# and Homebrew) from the source tarball kept beside the repository, and
# installs it into PREFIX: include/libdwarf.h, include/dwarf.h, a static
# lib/libdwarf.a and lib/pkgconfig/libdwarf.pc.
# Usage: scripts/build-libdwarf2.sh PREFIX [TARBALL]
# TARBALL defaults to ../shared/deps/libdwarf-2.3.1.tar.xz beside the
# repository. Then build kestab against it with
#   PKG_CONFIG_PATH=PREFIX/lib/pkgconfig scripts/test.sh build-dwarf2
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 1 ]; then
  echo "usage: $0 PREFIX [TARBALL]" >&2
  exit 2
fi
mkdir -p "$1"
prefix=$(cd "$1" && pwd)
tarball=${2:-$root/../shared/deps/libdwarf-2.3.1.tar.xz}
if [ ! -f "$tarball" ]; then
  echo "libdwarf source not found: $tarball" >&2
  exit 1
fi

"$root/scripts/install-deps.sh" dwarf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -xJf "$tarball" -C "$work"
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libdwarf-*' | head -n 1)
# Position-independent code, so the static library links into the
# position-independent executables Debian builds by default.
cmake -S "$src" -B "$work/build" -DBUILD_DWARFDUMP=OFF -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$work/build" -j"$(nproc)" >/dev/null
cmake --install "$work/build" >/dev/null
echo "libdwarf installed in $prefix"
