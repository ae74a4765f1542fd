#!/usr/bin/env bash
# Installs what is needed, builds kestab and its tests, and runs the tests.
# Usage: scripts/test.sh [build-dir] [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build" -DKESTAB_TESTS=ON "$@"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
