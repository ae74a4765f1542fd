#!/usr/bin/env bash
# Times kestab on an image with one function whose .debug_frame FDE has a
# great many CFA rows: GCC builds it from C with a .cfi_adjust_cfa_offset
# after each of N instructions (a .rept loop in inline assembly), and the
# function's frame base is DW_OP_call_frame_cfa, so its rows are all read.
#
# Usage: bench/long-fde.sh [-k kestab] [-n rows] [-r runs]
#   -k  the kestab binary (default: build/kestab, built with scripts/build.sh
#       when missing)
#   -n  the rows of the long FDE (default 40000)
#   -r  runs; the figure is the median (default 5)
#
# Prints the median wall time of the whole run (with an objdump that writes
# nothing, so the figure is kestab's own work) and, for scale, of
# arm-none-eabi-readelf --debug-dump=frames on the same image. The target
# is under 0.1 s for 40000 rows.
# Needs arm-none-eabi-gcc: scripts/install-deps.sh bench.
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)

kestab=$root/build/kestab
rows=40000
runs=5
while getopts "k:n:r:" opt; do
  case $opt in
    k) kestab=$(realpath "$OPTARG") ;;
    n) rows=$OPTARG ;;
    r) runs=$OPTARG ;;
    *) sed -n '2,17p' "$0" >&2; exit 2 ;;
  esac
done
if [ ! -x "$kestab" ]; then
  "$root/scripts/build.sh" "$root/build" -DKESTAB_TESTS=OFF
  kestab=$root/build/kestab
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cat >long.c <<EOF
volatile int sink;

int deep(int x)
{
    int local = x * 3;
    __asm__ volatile(".rept $rows\\n\\tnop\\n\\t.cfi_adjust_cfa_offset 4\\n\\t.endr\\n\\t"
                     ".cfi_adjust_cfa_offset -$((rows * 4))");
    sink = local;
    return local + 1;
}

int main(void)
{
    return deep(sink);
}
EOF
arm-none-eabi-gcc -g -O0 -mcpu=arm7tdmi -marm -nostdlib -Wl,--build-id=none -Wl,-Ttext=0x8000 -Wl,-e,main \
  -o long.tmp long.c
found=$(arm-none-eabi-readelf --debug-dump=frames long.tmp | grep -c 'DW_CFA_def_cfa_offset' || true)
echo "image: one FDE with $found DW_CFA_def_cfa_offset rows, $(stat -c %s long.tmp) bytes"

# A toolkit whose objdump writes nothing.
mkdir -p toolkit/bin
ln -s "$(type -P true)" toolkit/bin/arm-elf-objdump
printf '%s\r\n\r\n%s\r\n"toolkitdir"="%s"\r\n' 'Windows Registry Editor Version 5.00' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Quenrotech\Lumora\Defaults\Toolkits\GNUARM7 LPC2000]' "$work/toolkit" >kit.reg
export KESTAB_REGISTRY=$work/kit.reg HOME=$work WINEPREFIX=$work/wine

# The median wall time of a command over the runs, in seconds.
median() {
  local times=() t0 t1
  for _ in $(seq "$runs"); do
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] / 1e6 }'
}

echo "kestab long -q:                          $(median "$kestab" long -q) s"
grep -q '^# End of file\.' <(tail -c 20 long.MAP) || { echo "the MAP file is not complete" >&2; exit 1; }
echo "arm-none-eabi-readelf --debug-dump=frames: $(median arm-none-eabi-readelf --debug-dump=frames long.tmp) s"
