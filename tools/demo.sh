#!/usr/bin/env bash
# Shows the image extractor at work on the bundled demo image: the listing,
# then the extraction into demo-out/.
set -eu
program=${1:-build/bin/imgextract}
image=samples/demo.img
"$program" -v "$image"
rm -rf demo-out
mkdir -p demo-out
"$program" "$image" -d demo-out
echo
echo "Extracted into demo-out/ (times shown in UTC):"
TZ=UTC find demo-out -mindepth 1 | sort | while read -r path; do
  TZ=UTC ls -ld --time-style='+%Y-%m-%d %H:%M' "$path" | awk '{ printf "  %s %8s %s %s %s\n", $1, $5, $6, $7, $8 }'
done
