#!/usr/bin/env bash
# Builds kestab and makes its Debian package (kestab_<version>_<arch>.deb) in
# the build directory. Usage: scripts/package.sh [build-dir] [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
"$root/scripts/install-deps.sh" package
"$root/scripts/build.sh" "$build" "$@"
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/kestab_*.deb
