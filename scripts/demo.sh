#!/usr/bin/env bash
# Installs what is needed, builds kestab and runs it on the bundled blinky
# sample in a scratch directory, then shows what it wrote.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build" -DKESTAB_TESTS=OFF

work="$build/demo"
rm -rf "$work"
mkdir -p "$work/toolkit/bin"
cp "$root"/examples/blinky/*.c "$root"/examples/blinky/*.h "$root/examples/blinky/blinky.tmp" "$work"
ln -s "$(command -v arm-none-eabi-objdump)" "$work/toolkit/bin/arm-elf-objdump"
sed "s|@TOOLKIT@|$work/toolkit|" "$root/examples/blinky/toolkit.reg" >"$work/kestab.reg"

echo "\$ kestab blinky   (in $work)"
status=0
(cd "$work" && KESTAB_REGISTRY="$work/kestab.reg" "$build/kestab" blinky) || status=$?
echo "exit status: $status"
lines=$(wc -l <"$work/blinky.MAP")
echo
echo "== blinky.MAP ($lines lines), head:"
head -n 25 "$work/blinky.MAP" | tr -d '\r'
echo "..."
echo "== tail:"
tail -n 6 "$work/blinky.MAP" | tr -d '\r'
echo
echo
echo "The listing is $work/blinky.lst ($(wc -l <"$work/blinky.lst") lines)."
exit "$status"
