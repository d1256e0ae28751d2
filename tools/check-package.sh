#!/usr/bin/env bash
# Checks the Debian package as a user gets it (make test-package): unpacked
# into a scratch root, every program answers --version and has its manual
# page, the demo runs on the installed programs, the installed selfdisk finds
# its payload field, mkselfdisk makes a self-creating diskette from the
# selfdisk beside it, the manual pages pass mandoc's lint, and lintian finds
# no error (its warnings are shown).
#   check-package.sh PACKAGE.deb PROGRAM...
# Run from the source tree. Exit 0: passed; 1: failed.
set -euo pipefail

fail() {
  echo "FAILED: $*"
  exit 1
}

[ $# -ge 2 ] || fail "usage: check-package.sh PACKAGE.deb PROGRAM..."
deb=$1
shift
scratch=$(mktemp -d "${TMPDIR:-/tmp}/package-check.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
bin=$scratch/root/usr/bin
manual=$scratch/root/usr/share/man/man1

for program in "$@"; do
  "$bin/$program" --version >"$scratch/version" || fail "$program --version ended with $?"
  [ -s "$scratch/version" ] || fail "$program --version showed nothing"
  gzip -dc "$manual/$program.1.gz" >"$scratch/$program.1" || fail "no manual page for $program"
  mandoc -T lint -W warning "$scratch/$program.1" || fail "mandoc finds faults in $program.1"
done

bash tools/demo.sh "$bin" "$scratch/demo-out" >"$scratch/demo.log" 2>&1 ||
  { cat "$scratch/demo.log"; fail "the demo did not run on the installed programs"; }

# The installed selfdisk alone carries no diskette; its stripped file must
# still hold its own length as payload offset.
truncate -s 1440K "$scratch/drive.img"
DISKETTE_A=$scratch/drive.img "$bin/selfdisk" /D </dev/null ||
  fail "the installed selfdisk /D ended with $?"
"$bin/mkselfdisk" -o "$scratch/x" -t "Packaged" samples/demo.img >"$scratch/mkselfdisk.log" ||
  { cat "$scratch/mkselfdisk.log"; fail "mkselfdisk did not take the selfdisk beside it"; }
# /D shows its box and lines on a terminal: script(1) gives it one.
DISKETTE_A=$scratch/drive.img script -qec "$scratch/x /D" /dev/null </dev/null >"$scratch/x.log" ||
  { cat "$scratch/x.log"; fail "x /D ended with $?"; }
grep -q "1 diskette(s) included" "$scratch/x.log" && grep -q "Diskette  1: DEMO DISK" "$scratch/x.log" ||
  { cat "$scratch/x.log"; fail "x /D did not show its diskette"; }

lintian --fail-on error "$deb" || fail "lintian finds errors in $deb"
echo "PASSED: $deb"
