#!/usr/bin/env bash
# Cross-builds kestab.exe for Windows with MinGW-w64 and tests it under Wine:
# libdwarf 2.3.1 from the shared third-party sources into a static prefix,
# then kestab.exe (one file, statically linked and stripped) and its tests,
# run in a fresh Wine prefix under the build directory; then writes the
# download, <build-dir>/kestab-<version>-windows-x64.zip (scripts/windows-zip.sh).
# Usage: scripts/build-windows.sh [build-dir] [cmake options...]
# (default build-windows/; KESTAB_WINDOWS_TESTS=0 builds without running)
# LIBDWARF2_TARBALL names libdwarf-2.3.1.tar.xz when it is not in
# ../shared/deps beside the repository, or another libdwarf source tarball
# (one top directory) to build with.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-windows}
shift || true
mkdir -p "$build"
build=$(cd "$build" && pwd)
toolchain=$root/cmake/mingw-w64-x86_64.cmake

tarball=${LIBDWARF2_TARBALL:-}
if [ -z "$tarball" ]; then
  for candidate in "$root/../shared/deps" "$root/../../shared/deps"; do
    if [ -f "$candidate/libdwarf-2.3.1.tar.xz" ]; then tarball=$candidate/libdwarf-2.3.1.tar.xz; break; fi
  done
fi
if [ ! -f "$tarball" ]; then
  echo "libdwarf-2.3.1.tar.xz not found; set LIBDWARF2_TARBALL" >&2
  exit 2
fi

"$root/scripts/install-deps.sh" windows

seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(seconds)" 'BEGIN { printf "%.1f s", b - a }'; }

# libdwarf: static, without dwarfdump. Its decompression needs zlib and zstd
# together and Debian has no MinGW zstd, so it is built without: compressed
# debugging sections are refused by this build. It is built again whenever
# the tarball differs from the one the prefix was built from.
prefix=$build/libdwarf-prefix
source_sum=$(sha256sum "$tarball" | cut -d' ' -f1)
if [ ! -f "$prefix/lib/libdwarf.a" ] || [ "$(cat "$prefix/source.sha256" 2>/dev/null)" != "$source_sum" ]; then
  start=$(seconds)
  rm -rf "$prefix" "$build/libdwarf-source" "$build/libdwarf-build"
  mkdir -p "$build/libdwarf-source"
  tar -xJf "$tarball" -C "$build/libdwarf-source" --strip-components=1
  cmake -S "$build/libdwarf-source" -B "$build/libdwarf-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_DWARFDUMP=OFF -DBUILD_NON_SHARED=ON -DBUILD_SHARED=OFF \
    -DENABLE_DECOMPRESSION=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$build/libdwarf-build" -j"$(nproc)" >/dev/null
  cmake --install "$build/libdwarf-build" >/dev/null
  echo "$source_sum" >"$prefix/source.sha256"
  echo "libdwarf for Windows: $(elapsed "$start")"
fi

# A download is only ever left beside the program it was made from.
rm -f "$build"/kestab-*-windows-x64.zip
start=$(seconds)
cmake -S "$root" -B "$build/kestab" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
cmake --build "$build/kestab" -j"$(nproc)"
echo "kestab.exe and its tests: $(elapsed "$start")"
# One file: only DLLs that every Windows has may be imported.
for exe in "$build/kestab/kestab.exe" "$build/kestab/tests/windows/kestab_windows_tests.exe"; do
  if x86_64-w64-mingw32-objdump -p "$exe" | grep "DLL Name" | grep -viE "(kernel32|msvcrt|advapi32)\.dll"; then
    echo "$exe needs the DLLs above" >&2
    exit 1
  fi
done

if [ "${KESTAB_WINDOWS_TESTS:-1}" = 1 ]; then
  # A fresh Wine prefix of our own, so nothing of the machine's settings is
  # read and every run starts from the same registry.
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  export WINEPREFIX=$build/kestab/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  rm -rf "$WINEPREFIX"
  start=$(seconds)
  "$wine" wineboot --init >/dev/null 2>&1
  echo "new Wine prefix: $(elapsed "$start")"
  start=$(seconds)
  (cd "$build/kestab" && ctest --output-on-failure -j"$(nproc)")
  echo "tests under Wine: $(elapsed "$start")"
fi

# The download, with the kestab.exe the tests ran.
"$root/scripts/windows-zip.sh" "$build" "$tarball"
