#!/usr/bin/env bash
# Replays the regression inputs through the fuzz target, then fuzzes for a
# bounded time from a seed corpus made of the test images.
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
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The seeds: every test image that is no bigger than the fuzzer's inputs.
seeds=$build/fuzz-seeds
rm -rf "$seeds"
mkdir -p "$seeds" "$build/fuzz-corpus" "$build/fuzz-artifacts"
find "$root/tests/fixtures" -name '*.tmp' -size -64k | while read -r image; do
  rel=${image#"$root/tests/fixtures/"}
  cp "$image" "$seeds/${rel//\//_}"
done

regressions=("$here"/regressions/*)
if [ -e "${regressions[0]}" ]; then
  echo "== replaying ${#regressions[@]} regression inputs"
  "$fuzzer" -timeout=20 "${regressions[@]}"
fi

echo "== fuzzing for $seconds s"
"$fuzzer" -seed=1 -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/" "$@" \
  "$build/fuzz-corpus" "$seeds"
