#!/usr/bin/env bash
# bench/writer.sh - the diskette writer's device requests and its speed.
#
#   bash bench/writer.sh          # about two minutes (one qemu boot)
#   QEMU=0 bash bench/writer.sh   # the device requests only
#
# 1. Device requests: dskwrite writes a nearly empty and a full 1.44 MB
#    diskette (mkfs.fat and mtools) into a file-backed drive (DISKETTE_A=file),
#    with and without /V, ENTER through a pipe, under strace; the calls on the
#    drive file are counted beside the track sides the used-track map marks
#    (bench/used_sides), which should be one write (and with /V one read) each.
# 2. Speed: in the qemu guest of the device test (tests/qemu/run.sh ... bench),
#    a full /A /V pass of 1.44 MB onto the emulated floppy A:, by dskwrite and
#    by dd with one direct request per track side (bs=9216 oflag=direct, then
#    iflag=direct read-back), alternately, three times each; the medians and
#    their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build-bench}
# Not below /dev: the writer takes nothing there for a file-backed drive.
WORK=${WORK:-${TMPDIR:-/tmp}/dskwrite-bench}
QEMU=${QEMU:-1}
# The kernel the guest boots, unpacked once; the test's cache is used when there is one.
if [ -z "${QEMU_CACHE:-}" ]; then
  QEMU_CACHE=$BUILD/qemu-cache
  [ -d "$ROOT/build/qemu-cache" ] && QEMU_CACHE=$ROOT/build/qemu-cache
fi
export MTOOLS_SKIP_CHECK=1 LC_ALL=C TZ=UTC

bash tools/install-packages.sh cmake g++ make libgtest-dev dosfstools mtools strace

echo "Building into $BUILD ..."
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target dskwrite dskwrite_static dskread_static diskette_guest \
  writer_images selfdisk_static mkselfdisk used_sides >/dev/null
DSKWRITE=$BUILD/bin/dskwrite

rm -rf "$WORK"
mkdir -p "$WORK"

# ---------------------------------------------------------------------------
# Device requests

# A nearly empty diskette (two small files) and a full one (one file takes
# every free cluster).
source bench/diskettes.sh
make_diskettes "$WORK"

DRIVE=$WORK/drive.img
printf '\n%-10s %-9s %-7s %9s %8s %7s %6s %9s %6s %5s\n' image "sides" option pwrite64 pread64 \
  ioctl fsync fdatasync other exit
for name in empty full; do
  image=$WORK/$name.img
  read -r _ used all < <("$BUILD/bin/used_sides" "$image")
  for option in "" /V; do
    # A zero-filled file of 1.44 MB is a blank diskette in the drive; mkfs.fat
    # leaves the free clusters zero too, so afterwards the drive holds the image.
    rm -f "$DRIVE" && truncate -s 1474560 "$DRIVE"
    status=0
    printf '\r' | DISKETTE_A=$DRIVE strace -f -y -o "$WORK/strace.log" \
      -e trace=pwrite64,pread64,ioctl,fsync,fdatasync,read,write,lseek,ftruncate \
      "$DSKWRITE" "$image" A: $option >/dev/null 2>&1 || status=$?
    cmp -s "$image" "$DRIVE" || { echo "bench: the drive does not hold $image" >&2; exit 1; }
    on_drive() { grep -c "^[0-9]* *$1(.*<$DRIVE>" "$WORK/strace.log" || true; }
    writes=$(on_drive pwrite64)
    reads=$(on_drive pread64)
    ioctls=$(on_drive ioctl)
    syncs=$(on_drive fsync)
    datasyncs=$(on_drive fdatasync)
    other=$(($(grep -c "<$DRIVE>" "$WORK/strace.log") - writes - reads - ioctls - syncs - datasyncs))
    printf '%-10s %4s/%-4s %-7s %9s %8s %7s %6s %9s %6s %5s\n' "$name" "$used" "$all" \
      "${option:--}" "$writes" "$reads" "$ioctls" "$syncs" "$datasyncs" "$other" "$status"
  done
done
echo "(sides: track sides the used-track map marks / all; calls on the drive file only)"

# ---------------------------------------------------------------------------
# Speed in the qemu guest

if [ "$QEMU" = 1 ]; then
  echo
  echo "qemu guest (TCG), floppy A: ..."
  bash tests/qemu/run.sh "$BUILD/bin/diskette_guest" "$BUILD/bin/dskwrite_static" \
    "$BUILD/bin/writer_images" "$BUILD/bin/selfdisk_static" "$BUILD/bin/mkselfdisk" "$QEMU_CACHE" \
    "$BUILD/bin/dskread_static" bench >"$WORK/qemu.log" 2>&1 ||
    { cat "$WORK/qemu.log"; echo "bench: the guest failed" >&2; exit 1; }
  sed -n 's/^BENCH //p' "$WORK/qemu.log"
fi
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(uname -sr)"
rm -rf "$WORK"
