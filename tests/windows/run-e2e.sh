#!/usr/bin/env bash
# kestab.exe end to end under Wine: every fixture image run as the Linux
# end-to-end tests run it (same directory layout, same settings), with the
# fake arm-elf-objdump.exe replaying the listing that the real objdump
# writes for the image here on Linux. The MAP file must equal the Linux
# build's expected MAP byte for byte, and the exit status must match.
# Settings come from a .reg file imported into $WINEPREFIX (made beforehand
# by scripts/build-windows.sh).
# Usage: run-e2e.sh <kestab.exe> <arm-elf-objdump.exe> <work-dir>
set -euo pipefail
kestab=$1 fake=$2 work=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
fixtures=$root/tests/fixtures
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEDEBUG=-all
failures=0

winpath() { printf 'Z:%s' "${1//\//\\}"; }
regstr() { local s=${1//\\/\\\\}; printf '%s' "${s//\"/\\\"}"; }

rm -rf "$work"
mkdir -p "$work/toolkit/bin"
cp "$fake" "$work/toolkit/bin/arm-elf-objdump.exe"
# The toolkit through {ROOTDIR}, in the 32-bit view where a 32-bit IDE's
# installer writes; the 64-bit view names a toolkit that does not exist, so
# a run that read it would have no listing.
cat >"$work/settings.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Quenrotech\\Lumora]
"rootdir"="$(regstr "$(winpath "$work")")"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7 LPC2000]
"toolkitdir"="{ROOTDIR}\\\\toolkit"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7 LPC2000]
"toolkitdir"="C:\\\\no-toolkit"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7]
"toolkitDir"="c:\\\\gnuarm7"
REG
"$wine" regedit /S "$(winpath "$work/settings.reg")"

fail() {
  echo "FAIL $1: $2"
  failures=$((failures + 1))
}

# run <name> <image> <files to copy...>: lays out <work>/<name>/run, records
# the listing, runs kestab.exe there. Leaves the status in $status.
run() {
  local name=$1 image=$2
  shift 2
  local dir=$work/$name/run base
  base=${BASE:-$(basename "$image" .tmp)}
  mkdir -p "$dir"
  cp -r "$@" "$dir/"
  cp "$image" "$dir/$base.tmp"
  # Sources older than the image, or objdump -S warns about them.
  find "$dir" -type f -exec touch -d 2001-01-01 {} +
  touch -d 2002-01-01 "$dir/$base.tmp"
  if [ "${EMPTY_LISTING:-}" = 1 ]; then
    : >"$dir/$base.tmp.objdump"
  else
    (cd "$dir" && arm-none-eabi-objdump -M reg-names-raw -d -S "$base.tmp" >"$base.tmp.objdump" 2>&1)
  fi
  set +e
  (cd "$dir" && "$wine" "$kestab" "$base" -q >"../stdout" 2>"../stderr")
  status=$?
  set -e
}

# expect <name> <base> <status> <expected MAP>
expect() {
  local dir=$work/$1/run
  [ "$status" = "$3" ] || fail "$1" "exit status $status, expected $3: $(cat "$work/$1/stderr")"
  cmp -s "$4" "$dir/$2.MAP" || fail "$1" "$2.MAP differs from $4"
}

gcc_case() {  # <name> <image> <sources> <expected> [library directory] [image base name]
  local drive_c=$WINEPREFIX/drive_c/gnuarm7 base=${6:-$(basename "$2" .tmp)}
  rm -f "$drive_c"
  if [ -n "${5:-}" ]; then ln -s "$work/$1/run/$5" "$drive_c"; fi
  BASE=$base run "$1" "$root/$2" "$root/$3/."
  expect "$1" "$base" 0 "$fixtures/$4"
  printf 'First pass...\r\n' | cmp -s - "$work/$1/stdout" || fail "$1" "standard output: $(cat -A "$work/$1/stdout")"
  [ ! -s "$work/$1/stderr" ] || fail "$1" "standard error: $(cat "$work/$1/stderr")"
  rm -f "$drive_c"
}

start=$(date +%s)
gcc_case Multi tests/fixtures/gcc/multi.tmp tests/fixtures/gcc/multi gcc/multi.expected.MAP
gcc_case LibraryDirectory tests/fixtures/gcc/libdir.tmp tests/fixtures/gcc/libdir gcc/libdir.expected.MAP gnuarm7
gcc_case NoLibraryDirectory tests/fixtures/gcc/libdir.tmp tests/fixtures/gcc/libdir gcc/libdir-nolib.expected.MAP
gcc_case Blinky examples/blinky/blinky.tmp examples/blinky gcc/blinky.expected.MAP
gcc_case Optimized tests/fixtures/gcc/optimized.tmp tests/fixtures/gcc/optimized gcc/optimized.expected.MAP
gcc_case FrameArm tests/fixtures/gcc/frame_arm.tmp tests/fixtures/gcc/frame gcc/frame_arm.expected.MAP
gcc_case FrameThumb tests/fixtures/gcc/frame_thumb.tmp tests/fixtures/gcc/frame gcc/frame_thumb.expected.MAP
for build in dw2 dw4 dw5 dw5-gcclines; do
  gcc_case "Modern-$build" "tests/fixtures/gcc/modern-$build.tmp" tests/fixtures/gcc/modern gcc/modern.expected.MAP "" modern
done
gcc_case SensorLto tests/fixtures/gcc/sensor-lto.tmp tests/fixtures/gcc/sensor gcc/sensor-lto.expected.MAP
for build in dw4 dw5; do
  gcc_case "SensorClang-$build" "tests/fixtures/gcc/sensor-clang-$build.tmp" tests/fixtures/gcc/sensor \
    gcc/sensor-clang.expected.MAP "" sensor-clang
done

# The hand-written DWARF images, with an objdump that writes nothing.
# units is left out: one of its units is the Linux device /dev/null, which
# names no file on Windows.
for image in "$fixtures"/asm/*.tmp; do
  base=$(basename "$image" .tmp)
  [ "$base" != units ] || continue
  EMPTY_LISTING=1 run "asm-$base" "$image" "$fixtures"/asm/*.c
  expected_status=0
  case $base in noline | bad_truncated) expected_status=255 ;; esac
  expect "asm-$base" "$base" "$expected_status" "$fixtures/asm/$base.expected.MAP"
done

# Without objdump no listing is made: the designed message on standard
# output, the reason on standard error, a MAP file without file 0, listing
# lines and end line, and exit value -1, which reaches the shell as 255.
mv "$work/toolkit/bin/arm-elf-objdump.exe" "$work/toolkit/bin/moved.exe"
run NoListing "$root/tests/fixtures/gcc/multi.tmp" "$root/tests/fixtures/gcc/multi/."
mv "$work/toolkit/bin/moved.exe" "$work/toolkit/bin/arm-elf-objdump.exe"
grep -v -e '^File 0  : ' -e ': F:000 L:' -e '^# End of file\.' "$fixtures/gcc/multi.expected.MAP" >"$work/nolisting.MAP"
expect NoListing multi 255 "$work/nolisting.MAP"
printf 'Can not create list file. Exit code is: 0First pass...\r\n' | cmp -s - "$work/NoListing/stdout" ||
  fail NoListing "standard output: $(cat -A "$work/NoListing/stdout")"
grep -qx 'kestab: cannot run .*\\toolkit\\bin\\arm-elf-objdump.exe: .*' "$work/NoListing/stderr" ||
  fail NoListing "standard error: $(cat "$work/NoListing/stderr")"

# An image written to while the listing is made (the fake objdump appends
# multi.tmp.append to it): the listing may be of another image, so it
# counts as not made.
printf '\n' >"$work/multi.tmp.append"
run ImageChanged "$root/tests/fixtures/gcc/multi.tmp" "$root/tests/fixtures/gcc/multi/." "$work/multi.tmp.append"
expect ImageChanged multi 255 "$work/nolisting.MAP"
tr -d '\r' <"$work/ImageChanged/stderr" | grep -qx 'kestab: multi.tmp changed while the listing was made' ||
  fail ImageChanged "standard error: $(cat "$work/ImageChanged/stderr")"

# Exit value -2 reaches the shell as 254; without the image no MAP file is
# made.
mkdir -p "$work/missing"
set +e
(cd "$work/missing" && "$wine" "$kestab" absent -q >/dev/null 2>&1)
status=$?
set -e
[ "$status" = 254 ] || fail missing-image "exit status $status, expected 254"
[ ! -e "$work/missing/absent.MAP" ] || fail missing-image "a MAP file was made"

# --version as the one argument: the version and the libdwarf built in, in
# Windows text lines, and status 0.
set +e
(cd "$work/missing" && "$wine" "$kestab" --version >"$work/version.out" 2>&1)
status=$?
set -e
version=$(cat "$work/version.out"; printf x)
[ "$status" = 0 ] || fail version "exit status $status"
[[ ${version%x} =~ ^kestab\ [0-9.]+$'\r\n'libdwarf\ [0-9.]+$'\r\n'$ ]] ||
  fail version "output: $(cat -A "$work/version.out")"

echo "kestab.exe end to end under Wine: $(( $(date +%s) - start )) s, $failures failure(s)"
[ "$failures" = 0 ]
