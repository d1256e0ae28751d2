#!/usr/bin/env bash
# Shows the programs at work on the bundled demo image: the extractor's
# listing and extraction into demo-out/, then the diskette writer writing the
# image into demo-out/drive-a.img, a file that stands for drive A:, which the
# extractor then lists as a plain diskette image.
#   demo.sh [BIN_DIRECTORY [OUTPUT_DIRECTORY]]   (build/bin, demo-out)
set -eu
bin=${1:-build/bin}
out=${2:-demo-out}
image=samples/demo.img
"$bin/imgextract" -v "$image"
rm -rf "$out"
mkdir -p "$out/files"
"$bin/imgextract" "$image" -d "$out/files"
echo
echo "Extracted into $out/files/ (times shown in UTC):"
TZ=UTC find "$out/files" -mindepth 1 | sort | while read -r path; do
  TZ=UTC ls -ld --time-style='+%Y-%m-%d %H:%M' "$path" | awk '{ printf "  %s %8s %s %s %s\n", $1, $5, $6, $7, $8 }'
done

# A blank 1.44 MB diskette in drive A:; /S writes as soon as it is there. The
# writer shows its progress on the terminal (on standard error when standard
# output is none); without one, only its messages reach standard error.
echo
truncate -s 1474560 "$out/drive-a.img"
DISKETTE_A="$out/drive-a.img" "$bin/dskwrite" "$image" /S /V </dev/null
echo
echo "Written into $out/drive-a.img; read back as a plain image:"
"$bin/imgextract" -v "$out/drive-a.img"
