#!/usr/bin/env bash
# Writes a self-creating diskette program's own length, as a 32-bit
# little-endian value, into its payload offset field at file offset OFFSET:
#   stamp-payload-offset.sh PROGRAM OFFSET
# The cross build's step after linking selfdisk.exe (offset 2, in the DOS
# header), where the payload_stamp it builds cannot run on the build machine.
set -euo pipefail
program=$1
offset=$2
length=$(stat -c %s "$program")
if [ "$length" -lt $((offset + 4)) ] || [ "$length" -gt 4294967295 ]; then
  echo "'$program' has no room for a 32-bit payload offset." >&2
  exit 3
fi
bytes=""
for shift in 0 8 16 24; do
  bytes+=$(printf '\\%03o' $(((length >> shift) & 255)))
done
printf "$bytes" | dd of="$program" bs=1 seek="$offset" count=4 conv=notrunc status=none
