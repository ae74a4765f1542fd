#!/usr/bin/env bash
# Rebuilds the DWARF 5 seed images of the fuzz target from seed.c with
# GCC's defaults for DWARF (scripts/install-deps.sh images):
#   dw5-o2-arm.tmp    -O2, ARM state: .debug_loclists, .debug_rnglists,
#                     inlined calls
#   dw5-o0-thumb.tmp  -O0, Thumb state: locals in the frame, the frame base
#                     through .debug_frame
# The compilation directory is recorded as ".", so the images name seed.c
# alone (the fuzz harness keeps an empty seed.c beside the image).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
CC=${CC:-arm-none-eabi-gcc}
cd "$here"
build() {  # <image> <flags...>
  local image=$1
  shift
  "$CC" -g -gno-record-gcc-switches -mcpu=arm7tdmi -nostdlib -fdebug-prefix-map="$here=." "$@" \
    -Wl,--build-id=none -Wl,-Ttext=0x8000 -Wl,-e,main -o "$image" seed.c
}
build dw5-o2-arm.tmp -O2 -marm
build dw5-o0-thumb.tmp -O0 -mthumb
