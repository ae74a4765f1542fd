#!/usr/bin/env bash
# Coverage of a replay of fuzz inputs: builds the fuzz target with clang's
# source-based coverage (no sanitizers) into <build-dir>, runs every input
# of the given corpus directories and files once, and prints the coverage
# of src/ per file and per function for src/mapout/, where every function
# should be reached.
#
# Usage: tests/fuzz/coverage.sh <build-dir> <corpus dir or file>...
#   e.g. tests/fuzz/coverage.sh /tmp/kestab-cov build-fuzz/fuzz-corpus \
#          build-fuzz/fuzz-seeds tests/fuzz/regressions
# Needs scripts/install-deps.sh coverage.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:?usage: coverage.sh <build-dir> <corpus dir or file>...}
shift
[ $# -gt 0 ] || { echo "usage: coverage.sh <build-dir> <corpus dir or file>..." >&2; exit 2; }
"$root/scripts/install-deps.sh" coverage
llvm=$(ls -d /usr/lib/llvm-*/bin | sort -V | tail -1)

flags="-fprofile-instr-generate -fcoverage-mapping"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DKESTAB_FUZZ=ON -DKESTAB_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" -j2 --target kestab_fuzz_pipeline
fuzzer=$build/tests/fuzz/kestab_fuzz_pipeline

rm -f "$build"/replay-*.profraw
# -runs=0: every input is run once when the corpus is loaded, nothing more.
LLVM_PROFILE_FILE="$build/replay-%p.profraw" "$fuzzer" -runs=0 -timeout=60 -rss_limit_mb=4096 -max_len=1048576 \
  "$@" 2>&1 | grep -E "INITED|Done" || true
"$llvm/llvm-profdata" merge -sparse "$build"/replay-*.profraw -o "$build/replay.profdata"

cov=("$llvm/llvm-cov" report "$fuzzer" -instr-profile="$build/replay.profdata" -Xdemangler=c++filt)
"${cov[@]}" "$root/src"
echo
"${cov[@]}" -show-functions "$root"/src/mapout/*.cpp
