#!/usr/bin/env bash
# Writes a self-creating diskette program's own length, as a 32-bit
# little-endian value, into its payload offset field at file offset OFFSET:
#   stamp-payload-offset.sh PROGRAM OFFSET
# The build's step after every link of selfdisk: OFFSET is 12 for an ELF
# program (the padding of its identification), 2 for a Windows one (its DOS
# header). A payload appended at the end of the file is then found without
# changing the field, and the program as built finds a payload of no
# diskettes. Any failure ends with a message and exit code 3, failing the
# build.
set -euo pipefail

fail() {
  echo "stamp-payload-offset.sh: $*" >&2
  exit 3
}

[ $# -eq 2 ] || fail "usage: stamp-payload-offset.sh PROGRAM OFFSET"
program=$1
offset=$2
[[ $offset =~ ^[0-9]+$ ]] || fail "'$offset' is no file offset."
[ -f "$program" ] && [ -w "$program" ] || fail "'$program' could not be opened."
length=$(wc -c <"$program") || fail "'$program' could not be read."
length=$((length))
if [ "$length" -lt $((offset + 4)) ] || [ "$length" -gt 4294967295 ]; then
  fail "'$program' has no room for a 32-bit payload offset."
fi

# The four bytes, lowest first, as octal escapes for printf; and as decimal
# numbers for the check below.
escapes=""
expected=""
for shift in 0 8 16 24; do
  byte=$(((length >> shift) & 255))
  escapes+=$(printf '\\%03o' "$byte")
  expected+=" $byte"
done
printf "$escapes" | dd of="$program" bs=1 seek="$offset" count=4 conv=notrunc status=none ||
  fail "'$program' could not be written."

# Read the field back: the file must hold exactly those bytes at OFFSET and
# keep its length.
written=$(od -An -v -tu1 -j "$offset" -N 4 "$program" | tr -s ' \n' ' ')
[ "$written" = "$expected " ] && [ "$(($(wc -c <"$program")))" -eq "$length" ] ||
  fail "'$program' does not hold its length at offset $offset after writing."
