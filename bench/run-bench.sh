#!/usr/bin/env bash
# Measures kestab on large generated images against the tools it competes
# with, how its own work grows with the image, and how little of the run
# stands outside objdump's time.
#
# Usage: bench/run-bench.sh [-k kestab] [-r runs] [-u units -s symbols -t types]
#   -k  the kestab binary (default: build/kestab, built with scripts/build.sh
#       when missing)
#   -r  runs per measurement; each figure is the median (default 7)
#   -u -s -t  size of the single image (default 150 units, 12000 symbols,
#       9000 types); the doubled and quadrupled images scale all three
#
# The single image is built twice: as the capacity image (-gdwarf-2 -O0)
# and from the same sources with -g -O2 (DWARF 5, location lists). For
# each of the two it prints, each a median over the runs, measured in turns
# in this one invocation:
#   - the whole run (with arm-none-eabi-objdump making the listing) against
#     arm-none-eabi-objdump -M reg-names-raw -d -S alone, and against the
#     floor: that objdump and the own work started together as two
#     independent processes, which is what overlapping them can reach;
#   - the tool's own work (a toolkit whose objdump writes nothing) against
#     arm-none-eabi-readelf --debug-dump=info,decodedline;
#   - the time from the start of kestab to the start of objdump, and from
#     the end of objdump to the end of kestab (bench/timeline.c and
#     bench/stamp_objdump.c, built here with the host's cc), less what the
#     stand-in itself adds: its own start and end, timed when it is started
#     directly instead of by kestab. The start is counted from kestab's
#     main (bench/main_stamp.c notes when kestab reaches it), and also from
#     its exec, which adds what the system takes to load a dynamically
#     linked program;
# then the own work on the capacity image doubled and quadrupled, as
# ratios, and the peak resident memory of the own work on all three.
# Needs arm-none-eabi-gcc, python3, cc and GNU time (/usr/bin/time):
# scripts/install-deps.sh bench.
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
make_image() {
  local dir=$1 scale=$2
  shift 2
  mkdir -p "$work/$dir"
  "$root/tests/fixtures/gen/make-large.sh" -o "$work/$dir/img.tmp" -m "$work/$dir/manifest" -s "$work/$dir" "$@" \
    $((units * scale)) $((symbols * scale)) $((types * scale)) >"$work/$dir/built"
  # Sources older than the image: objdump -S then has no warning to give.
  find "$work/$dir" -name '*.c' -exec touch -d '2001-01-01' {} +
  # The floor's own work reads a copy, so that it shares no file with objdump.
  cp "$work/$dir/img.tmp" "$work/$dir/own.tmp"
}
make_image x1 1
make_image x2 2
make_image x4 4
make_image o2 1 -g "-g -O2"

# The timing helpers.
cc -O2 -o "$work/timeline" "$root/bench/timeline.c"
cc -O2 -o "$work/stamp_objdump" "$root/bench/stamp_objdump.c"
cc -O2 -shared -fPIC -o "$work/main_stamp.so" "$root/bench/main_stamp.c"

# Three toolkits: the real objdump, one that writes nothing, and the real
# one behind the stand-in that notes when it started and ended.
mkdir -p "$work/real/bin" "$work/null/bin" "$work/stamp/bin"
ln -s "$(type -P arm-none-eabi-objdump)" "$work/real/bin/arm-elf-objdump"
ln -s "$(type -P true)" "$work/null/bin/arm-elf-objdump"
ln -s "$work/stamp_objdump" "$work/stamp/bin/arm-elf-objdump"
for kit in real null stamp; do
  printf '%s\r\n\r\n%s\r\n"toolkitdir"="%s"\r\n' 'Windows Registry Editor Version 5.00' \
    '[HKEY_LOCAL_MACHINE\SOFTWARE\Quenrotech\Lumora\Defaults\Toolkits\GNUARM7 LPC2000]' \
    "$work/$kit" >"$work/$kit.reg"
done
export HOME=$work WINEPREFIX=$work/wine REAL_OBJDUMP=arm-none-eabi-objdump

# Wall time of one command in microseconds, run in `dir` with its output
# dropped.
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
# objdump and the own work as two processes started together.
floor() {
  arm-none-eabi-objdump -M reg-names-raw -d -S img.tmp >img.lst 2>&1 &
  KESTAB_REGISTRY=$work/null.reg "$kestab" own -q
  wait
}
timeline() {
  (cd "$1" && KESTAB_REGISTRY=$work/stamp.reg TIMELINE_MAIN_STAMP=$work/main_stamp.so \
    "$work/timeline" "$work/stamp.txt" "$kestab" img -q)
}
# The stand-in started directly, on a listing that takes no time.
stand_in() { (cd "$1" && "$work/timeline" "$work/stamp.txt" "$work/stamp_objdump" -h img.tmp); }

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

declare -A samples
# One warm-up round, then the measured rounds; the commands take turns so
# that a change in the machine's load touches them all alike.
for round in $(seq 0 "$runs"); do
  for img in x1 o2; do
    for what in objdump whole floor readelf own; do
      case $what in
        objdump) us=$(seconds "$work/$img" objdump_alone) ;;
        whole) us=$(seconds "$work/$img" whole) ;;
        floor) us=$(seconds "$work/$img" floor) ;;
        readelf) us=$(seconds "$work/$img" readelf_alone) ;;
        own) us=$(seconds "$work/$img" own) ;;
      esac
      [ "$round" -eq 0 ] || samples[$img.$what]+="$us "
    done
    read -r spawn tail to_main < <(timeline "$work/$img")
    read -r own_spawn own_tail _ < <(stand_in "$work/$img")
    [ "$round" -eq 0 ] || {
      samples[$img.spawn]+="$spawn " samples[$img.tail]+="$tail "
      samples[$img.main]+="$to_main " samples[$img.from_main]+="$((spawn - to_main)) "
      samples[ref.spawn]+="$own_spawn " samples[ref.tail]+="$own_tail "
    }
  done
  for img in x2 x4; do
    us=$(seconds "$work/$img" own)
    [ "$round" -eq 0 ] || samples[$img.own]+="$us "
  done
done
med() { tr ' ' '\n' <<<"${samples[$1]}" | grep . | median; }
peak() { (cd "$work/$1" && KESTAB_REGISTRY=$work/null.reg /usr/bin/time -f %M "$kestab" img -q 2>&1 >/dev/null | tail -1); }

echo "machine:  $(nproc) x $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "image:    $(sed 's/^[^:]*: //' "$work/x1/built"); x2 and x4 scale units, symbols and types"
echo "summary:  $(cd "$work/x1" && KESTAB_REGISTRY=$work/real.reg "$kestab" img | tail -1) (-O0), $(cd "$work/o2" && KESTAB_REGISTRY=$work/real.reg "$kestab" img | tail -1) (-O2)"
echo "runs:     median of $runs"
for img in x1 o2; do
  label="capacity image, -gdwarf-2 -O0"
  [ "$img" = o2 ] && label="the same sources, -g -O2"
  echo "-- $label"
  awk -v o="$(med $img.objdump)" -v w="$(med $img.whole)" -v f="$(med $img.floor)" -v r="$(med $img.readelf)" \
      -v a="$(med $img.own)" -v sp="$(med $img.spawn)" -v tl="$(med $img.tail)" \
      -v rs="$(med ref.spawn)" -v rt="$(med ref.tail)" -v tm="$(med $img.main)" -v fm="$(med $img.from_main)" '
  function ok(x) { return x ? "ok" : "MISSED" }
  BEGIN {
    printf "whole run        %8.3f s   objdump alone %8.3f s   ratio %.2f\n", w/1e6, o/1e6, w/o
    printf "floor            %8.3f s   (objdump and own work started together)   ratio to objdump %.2f\n", f/1e6, f/o
    printf "whole run / floor                                                  ratio %.2f (target <= 1.02) %s\n", w/f, ok(w/f <= 1.02)
    printf "own work         %8.3f s   readelf       %8.3f s   ratio %.2f (target <= 0.60) %s\n", a/1e6, r/1e6, a/r, ok(a/r <= 0.60)
    printf "start to objdump %8.2f ms  from kestab'"'"'s main (%.2f ms, less the stand-in'"'"'s own start %.2f ms; target <= 1.00 ms) %s\n", (fm-rs)/1e3, fm/1e3, rs/1e3, ok(fm-rs <= 1000)
    printf "                 %8.2f ms  from kestab'"'"'s exec (%.2f ms less the same; %.2f ms of them before its main)\n", (sp-rs)/1e3, sp/1e3, tm/1e3
    printf "after objdump    %8.2f ms  (%.2f ms, less the stand-in'"'"'s own end %.2f ms; target <= 1.50 ms) %s\n", (tl-rt)/1e3, tl/1e3, rt/1e3, ok(tl-rt <= 1500)
  }'
done
m1=$(peak x1) m2=$(peak x2) m4=$(peak x4)
echo "-- growth"
awk -v a="$(med x1.own)" -v b="$(med x2.own)" -v c="$(med x4.own)" -v m1="$m1" -v m2="$m2" -v m4="$m4" '
function ok(x) { return x ? "ok" : "MISSED" }
BEGIN {
  printf "own work, x2     %8.3f s   ratio to x1 %.2f (target <= 2.2) %s\n", b/1e6, b/a, ok(b/a <= 2.2)
  printf "own work, x4     %8.3f s   ratio to x2 %.2f (target <= 2.2) %s, to x1 %.2f\n", c/1e6, c/b, ok(c/b <= 2.2), c/a
  printf "peak memory      %8.1f MiB (own work, x1; target <= 16 MiB) %s\n", m1/1024, ok(m1 <= 16*1024)
  printf "peak memory, x2  %8.1f MiB ratio to x1 %.2f; x4 %.1f MiB ratio to x2 %.2f (target <= 2.2) %s\n", m2/1024, m2/m1, m4/1024, m4/m2, ok(m2/m1 <= 2.2 && m4/m2 <= 2.2)
}'
