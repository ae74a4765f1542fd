#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running kestab need.
# Safe to run again: apt-get runs only when a package is missing.
set -euo pipefail

packages=(g++ cmake make libdwarf-dev libelf-dev zlib1g-dev binutils-arm-none-eabi libgtest-dev)
# Extra packages on request: "fuzz" adds clang's libFuzzer runtime, "coverage"
# that and llvm-cov for tests/fuzz/coverage.sh, "images" the cross compilers
# (GCC for ARM, and clang, whose ARM target links with the ARM binutils) and
# python3 that regenerate the test images, "bench"
# what bench/run-bench.sh needs, "inspect" dwarfdump, "dwarf2" what building
# libdwarf 2.x (scripts/build-libdwarf2.sh) and finding it need: with zlib
# and zstd it reads compressed sections, as the distributions build it;
# "package" what cpack needs to name the package's dependencies (dpkg-shlibdeps,
# and file, which cpack runs on the binaries), and groff to
# check the manual page; "windows" the MinGW-w64 cross compilers, zlib and
# GoogleTest sources for them, Wine to run the result, and zip and unzip to
# pack the download and check it.
for extra in "$@"; do
  case "$extra" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    coverage) packages+=(clang libclang-rt-14-dev llvm-14) ;;
    images) packages+=(gcc-arm-none-eabi clang python3) ;;
    bench) packages+=(gcc-arm-none-eabi python3 time gcc) ;;
    inspect) packages+=(dwarfdump) ;;
    dwarf2) packages+=(xz-utils pkg-config libzstd-dev) ;;
    package) packages+=(dpkg-dev file groff-base) ;;
    windows) packages+=(mingw-w64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine64 xz-utils zip unzip) ;;
    *) echo "unknown extra: $extra" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
