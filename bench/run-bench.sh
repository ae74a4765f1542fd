#!/usr/bin/env bash
# Measures kestab on a large generated image against the tools it competes
# with, and how its own work grows with the image.
#
# Usage: bench/run-bench.sh [-k kestab] [-r runs] [-u units -s symbols -t types]
#   -k  the kestab binary (default: build/kestab, built with scripts/build.sh
#       when missing)
#   -r  runs per measurement; each figure is the median (default 7)
#   -u -s -t  size of the single image (default 150 units, 12000 symbols,
#       9000 types); the doubled and quadrupled images scale all three
#
# Prints, each a median over the runs, measured in turns in this one
# invocation:
#   - the whole run (with arm-none-eabi-objdump making the listing) against
#     arm-none-eabi-objdump -M reg-names-raw -d -S alone on the same image;
#   - the tool's own work (a toolkit whose objdump writes nothing) against
#     arm-none-eabi-readelf --debug-dump=info,decodedline on the same image;
#   - the own work on the image doubled and quadrupled, as ratios;
#   - the peak resident memory of the own work on the single image.
# Needs arm-none-eabi-gcc and python3 for the images and GNU time
# (/usr/bin/time) for the memory figure: scripts/install-deps.sh bench.
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)

kestab=$root/build/kestab
runs=7
units=150
symbols=12000
types=9000
while getopts "k:r:u:s:t:" opt; do
  case $opt in
    k) kestab=$(realpath "$OPTARG") ;;
    r) runs=$OPTARG ;;
    u) units=$OPTARG ;;
    s) symbols=$OPTARG ;;
    t) types=$OPTARG ;;
    *) sed -n '2,20p' "$0" >&2; exit 2 ;;
  esac
done
if [ ! -x "$kestab" ]; then
  "$root/scripts/build.sh" "$root/build" -DKESTAB_TESTS=OFF
  kestab=$root/build/kestab
fi
command -v /usr/bin/time >/dev/null || { echo "needs GNU time (/usr/bin/time)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The images, each in a directory with its sources, so that every unit is
# kept and objdump -S finds the source text.
for scale in 1 2 4; do
  mkdir -p "$work/x$scale"
  "$root/tests/fixtures/gen/make-large.sh" -o "$work/x$scale/img.tmp" -m "$work/x$scale/manifest" \
    -s "$work/x$scale" $((units * scale)) $((symbols * scale)) $((types * scale)) >"$work/x$scale/built"
  # Sources older than the image: objdump -S then has no warning to give.
  find "$work/x$scale" -name '*.c' -exec touch -d '2001-01-01' {} +
done

# Two toolkits: the real objdump, and one that writes nothing.
mkdir -p "$work/real/bin" "$work/null/bin"
ln -s "$(type -P arm-none-eabi-objdump)" "$work/real/bin/arm-elf-objdump"
ln -s "$(type -P true)" "$work/null/bin/arm-elf-objdump"
for kit in real null; do
  printf '%s\r\n\r\n%s\r\n"toolkitdir"="%s"\r\n' 'Windows Registry Editor Version 5.00' \
    '[HKEY_LOCAL_MACHINE\SOFTWARE\Quenrotech\Lumora\Defaults\Toolkits\GNUARM7 LPC2000]' \
    "$work/$kit" >"$work/$kit.reg"
done
export HOME=$work WINEPREFIX=$work/wine

# Wall time of one command in seconds, run in `dir` with its output dropped.
seconds() {
  local dir=$1
  shift
  local t0 t1
  t0=$(date +%s%N)
  (cd "$dir" && "$@" >/dev/null 2>&1) || { echo "failed: $*" >&2; exit 1; }
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000))
}
whole() { KESTAB_REGISTRY=$work/real.reg "$kestab" img -q; }
own() { KESTAB_REGISTRY=$work/null.reg "$kestab" img -q; }
objdump_alone() { arm-none-eabi-objdump -M reg-names-raw -d -S img.tmp >img.lst 2>&1; }
readelf_alone() { arm-none-eabi-readelf --debug-dump=info,decodedline img.tmp >img.txt 2>&1; }

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

declare -A samples
# One warm-up round, then the measured rounds; the commands take turns so
# that a change in the machine's load touches them all alike.
for round in $(seq 0 "$runs"); do
  for what in objdump whole readelf own own2 own4; do
    case $what in
      objdump) us=$(seconds "$work/x1" objdump_alone) ;;
      whole) us=$(seconds "$work/x1" whole) ;;
      readelf) us=$(seconds "$work/x1" readelf_alone) ;;
      own) us=$(seconds "$work/x1" own) ;;
      own2) us=$(seconds "$work/x2" own) ;;
      own4) us=$(seconds "$work/x4" own) ;;
    esac
    [ "$round" -eq 0 ] || samples[$what]+="$us "
  done
done
med() { tr ' ' '\n' <<<"${samples[$1]}" | grep . | median; }
objdump=$(med objdump) whole=$(med whole) readelf=$(med readelf)
own1=$(med own) own2=$(med own2) own4=$(med own4)

peak_kib=$(cd "$work/x1" && KESTAB_REGISTRY=$work/null.reg /usr/bin/time -f %M "$kestab" img -q 2>&1 >/dev/null | tail -1)

echo "machine:  $(nproc) x $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "image:    $(sed 's/^[^:]*: //' "$work/x1/built"); x2 and x4 scale units, symbols and types"
echo "summary:  $(cd "$work/x1" && KESTAB_REGISTRY=$work/real.reg "$kestab" img | tail -1)"
echo "runs:     median of $runs"
awk -v o="$objdump" -v w="$whole" -v r="$readelf" -v a="$own1" -v b="$own2" -v c="$own4" -v m="$peak_kib" '
function ok(x) { return x ? "ok" : "MISSED" }
BEGIN {
  printf "whole run        %8.3f s   objdump alone %8.3f s   ratio %.2f (target <= 1.10) %s\n", w/1e6, o/1e6, w/o, ok(w/o <= 1.10)
  printf "own work         %8.3f s   readelf       %8.3f s   ratio %.2f (target <= 1.00) %s\n", a/1e6, r/1e6, a/r, ok(a <= r)
  printf "own work, x2     %8.3f s   ratio to x1 %.2f (target <= 2.2) %s\n", b/1e6, b/a, ok(b/a <= 2.2)
  printf "own work, x4     %8.3f s   ratio to x2 %.2f (target <= 2.2) %s, to x1 %.2f\n", c/1e6, c/b, ok(c/b <= 2.2), c/a
  printf "peak memory      %8.1f MiB (own work, single image; target < 64 MiB) %s\n", m/1024, ok(m < 64*1024)
}'
