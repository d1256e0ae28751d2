#!/usr/bin/env bash
# Shows the image extractor at work on the bundled demo image: the listing,
# then the extraction into demo-out/.
set -u
program=${1:-build/bin/imgextract}
image=samples/demo.img
if [ ! -f "$image" ]; then
  "$program"
  exit 0
fi
"$program" -v "$image"
rm -rf demo-out && mkdir -p demo-out
"$program" "$image" -d demo-out
echo
echo "Extracted into demo-out/:"
find demo-out -exec ls -ld --time-style=+%Y-%m-%d\ %H:%M {} + | sed 's/^/  /'
