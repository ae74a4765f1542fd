#!/usr/bin/env bash
# Rebuilds blinky.tmp from the sources of this directory. Needs
# arm-none-eabi-gcc (scripts/install-deps.sh images). The units are compiled
# from this directory with relative names and the directory is recorded as
# ".", so the image holds no path of the machine that built it.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
CC=${CC:-arm-none-eabi-gcc}
CFLAGS=(-gdwarf-2 -gstrict-dwarf -mcpu=arm7tdmi -marm -nostdlib -O0 -gno-record-gcc-switches
        "-fdebug-prefix-map=$here=.")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$here"
for unit in startup main timer; do
  "$CC" "${CFLAGS[@]}" -c "$unit.c" -o "$work/$unit.o"
done
"$CC" -mcpu=arm7tdmi -marm -nostdlib -Wl,--build-id=none -T blinky.ld \
  -o blinky.tmp "$work/startup.o" "$work/main.o" "$work/timer.o"
