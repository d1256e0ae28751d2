#!/usr/bin/env bash
# bench/reader.sh - the diskette reader's device requests, its memory and its
# speed.
#
#   bash bench/reader.sh          # about a minute (one qemu boot)
#   QEMU=0 bash bench/reader.sh   # the device requests and the memory only
#
# 1. Device requests: dskread reads a nearly empty and a full 1.44 MB diskette
#    (bench/diskettes.sh) from a file-backed drive (DISKETTE_A=file), whole
#    and with /U, ENTER through a pipe, under strace; the calls on the drive
#    file are counted beside the track sides the used-track map marks
#    (bench/used_sides), which should be read with one request each.
# 2. Memory: the maximum resident set size (/usr/bin/time -v) of dskread
#    reading a 1.44 MB and a 2.88 MB drive file into a plain and a native
#    image, against the image's size + 2 MiB, as built (statically linked,
#    as the release files are), and with --version alone, which loads the
#    program and its runtime and no more.
# 3. Speed: in the qemu guest of the device test (tests/qemu/run.sh ...
#    bench-read), a whole read of the 1.44 MB diskette in the emulated floppy
#    A:, by dskread and by dd with one direct request per track side
#    (bs=9216 iflag=direct), alternately, three times each; the medians and
#    their ratio, and the read requests the floppy driver completed for each.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build-bench}
# Not below /dev: the reader takes nothing there for a file-backed drive.
WORK=${WORK:-${TMPDIR:-/tmp}/dskread-bench}
QEMU=${QEMU:-1}
# The kernel the guest boots, unpacked once; the test's cache is used when there is one.
if [ -z "${QEMU_CACHE:-}" ]; then
  QEMU_CACHE=$BUILD/qemu-cache
  [ -d "$ROOT/build/qemu-cache" ] && QEMU_CACHE=$ROOT/build/qemu-cache
fi
export MTOOLS_SKIP_CHECK=1 LC_ALL=C TZ=UTC

bash tools/install-packages.sh cmake g++ make libgtest-dev dosfstools mtools strace time

echo "Building into $BUILD ..."
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target dskread dskwrite_static dskread_static diskette_guest \
  writer_images selfdisk_static mkselfdisk used_sides >/dev/null
DSKREAD=$BUILD/bin/dskread

rm -rf "$WORK"
mkdir -p "$WORK"

# ---------------------------------------------------------------------------
# Device requests

source bench/diskettes.sh
make_diskettes "$WORK"

DRIVE=$WORK/drive.img
printf '\n%-10s %-9s %-7s %8s %7s %9s %6s %5s\n' image "sides" option pread64 ioctl fdatasync \
  other exit
for name in empty full; do
  image=$WORK/$name.img
  read -r _ used all < <("$BUILD/bin/used_sides" "$image")
  cp "$image" "$DRIVE"
  for option in "" /U; do
    rm -f "$WORK/read.img"
    status=0
    printf '\r' | DISKETTE_A=$DRIVE strace -f -y -o "$WORK/strace.log" \
      "$DSKREAD" "$WORK/read.img" A: $option >/dev/null 2>&1 || status=$?
    # Read whole, the image is the diskette; with /U, imgextract finds the same files.
    if [ -z "$option" ]; then
      cmp -s "$image" "$WORK/read.img" || { echo "bench: read.img is not $image" >&2; exit 1; }
    else
      [ "$(mdir -i "$WORK/read.img" -/ :: | md5sum)" = "$(mdir -i "$image" -/ :: | md5sum)" ] ||
        { echo "bench: read.img does not list as $image" >&2; exit 1; }
    fi
    on_drive() { grep -c "^[0-9]* *$1(.*<$DRIVE>" "$WORK/strace.log" || true; }
    reads=$(on_drive pread64)
    ioctls=$(on_drive ioctl)
    datasyncs=$(on_drive fdatasync)
    other=$(($(grep -c "<$DRIVE>" "$WORK/strace.log") - reads - ioctls - datasyncs))
    printf '%-10s %4s/%-4s %-7s %8s %7s %9s %6s %5s\n' "$name" "$used" "$all" "${option:--}" \
      "$reads" "$ioctls" "$datasyncs" "$other" "$status"
  done
done
echo "(sides: track sides the used-track map marks / all; calls on the drive file only;"
echo " other: the open, its lock, its close and the questions of its size)"

# ---------------------------------------------------------------------------
# Memory

mkfs.fat -C "$WORK/2880.img" 2880 >/dev/null
printf '\n%-10s %-7s %12s %12s %5s\n' drive option "max RSS KiB" "limit KiB" exit
for image in "$WORK/full.img" "$WORK/2880.img"; do
  size_kib=$(($(stat -c %s "$image") / 1024))
  for option in "" /N; do
    rm -f "$WORK/read.img"
    status=0
    printf '\r' | DISKETTE_A=$image /usr/bin/time -v -o "$WORK/time.log" \
      "$DSKREAD" "$WORK/read.img" A: $option >/dev/null 2>&1 || status=$?
    rss=$(sed -n 's/^\tMaximum resident set size (kbytes): //p' "$WORK/time.log")
    printf '%-10s %-7s %12s %12s %5s\n' "${size_kib} KiB" "${option:--}" "$rss" \
      "$((size_kib + 2048))" "$status"
  done
done
# The program and its runtime alone.
/usr/bin/time -v -o "$WORK/time.log" "$DSKREAD" --version >/dev/null 2>&1
printf '%-10s %-7s %12s\n' "(none)" --version \
  "$(sed -n 's/^\tMaximum resident set size (kbytes): //p' "$WORK/time.log")"

# ---------------------------------------------------------------------------
# Speed in the qemu guest

if [ "$QEMU" = 1 ]; then
  echo
  echo "qemu guest (TCG), floppy A: ..."
  bash tests/qemu/run.sh "$BUILD/bin/diskette_guest" "$BUILD/bin/dskwrite_static" \
    "$BUILD/bin/writer_images" "$BUILD/bin/selfdisk_static" "$BUILD/bin/mkselfdisk" "$QEMU_CACHE" \
    "$BUILD/bin/dskread_static" bench-read >"$WORK/qemu.log" 2>&1 ||
    { cat "$WORK/qemu.log"; echo "bench: the guest failed" >&2; exit 1; }
  sed -n 's/^BENCH //p' "$WORK/qemu.log"
fi
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(uname -sr)"
rm -rf "$WORK"
