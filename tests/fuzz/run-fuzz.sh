#!/usr/bin/env bash
# Replays the regression inputs through the fuzz target, then fuzzes for a
# bounded time from a seed corpus made of the test images and seeds/, with
# and without a listing.
#
# Usage: tests/fuzz/run-fuzz.sh <build-dir> [seconds] [libFuzzer options...]
#   <build-dir> is configured with clang and -DKESTAB_FUZZ=ON (see .ci/run);
#   seconds defaults to 120. New inputs collect in <build-dir>/fuzz-corpus,
#   crashing ones in <build-dir>/fuzz-artifacts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath "${1:?usage: run-fuzz.sh <build-dir> [seconds] [libFuzzer options...]}")
seconds=${2:-120}
shift $(( $# >= 2 ? 2 : 1 ))
fuzzer=$build/tests/fuzz/kestab_fuzz_pipeline

# Leaks that libdwarf itself makes on damaged input, outside the project.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/lsan.supp:print_suppressions=0}
# The slow unwinder goes through libdwarf, which has no frame pointers, so
# a leak inside it shows the libdwarf function lsan.supp names (the option
# comes last, so it holds over one given before).
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}:fast_unwind_on_malloc=0"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The seeds: every test image and every image in seeds/ that is no bigger
# than the fuzzer's inputs, each once alone (the listing step then fails)
# and, when the ARM objdump is at hand, once with the start of its listing
# after the marker (see pipeline_harness.h), plus one listing of the
# scanner's odd cases, with the L option: CR LF and a lone CR, a line
# longer than one read, a long prefix before a colon, and the
# ".debug_abbrev" line that ends the scan.
seeds=$build/fuzz-seeds
rm -rf "$seeds"
mkdir -p "$seeds" "$build/fuzz-corpus" "$build/fuzz-artifacts"
marker=KESTAB-LISTING:
echo_marker=KESTAB-LISTING-L:  # the same with the L option
objdump=$(command -v arm-none-eabi-objdump || true)
find "$root/tests/fixtures" "$here/seeds" -name '*.tmp' -size -64k | sort | while read -r image; do
  rel=${image#"$root/tests/"}
  seed=$seeds/${rel//\//_}
  cp "$image" "$seed"
  if [ -n "$objdump" ]; then
    room=$((32768 - $(stat -c %s "$image")))
    if [ "$room" -gt 1024 ]; then
      # (objdump refuses some of the damaged images, and head may cut it short)
      { cat "$image"; printf '%s' "$marker"
        { "$objdump" -M reg-names-raw -d -S "$image" 2>&1 || true; } | head -c "$room"; } >"$seed.lst"
    fi
  fi
done
{
  cat "$root/tests/fixtures/gcc/multi.tmp"
  printf '%s\r\n00008000 <main>:\r\n    8000:\tpush\r\n 8 0 0 4 :\tblank\r' "$echo_marker"
  printf '%01100d:\n' 0
  printf '    8008: a line of more than one read %01100d\n' 0
  printf '00000000000000000000000000000000000000008010: long prefix\n'
  printf 'Contents of section .debug_abbrev:\n    8014:\tafter the end\n'
} >"$seeds/odd-listing"

regressions=("$here"/regressions/*)
if [ -e "${regressions[0]}" ]; then
  echo "== replaying ${#regressions[@]} regression inputs"
  "$fuzzer" -timeout=20 "${regressions[@]}"
fi

echo "== fuzzing for $seconds s"
"$fuzzer" -seed=1 -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
  -dict="$here/kestab.dict" -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/" "$@" \
  "$build/fuzz-corpus" "$seeds"
