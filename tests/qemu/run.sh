#!/usr/bin/env bash
# The device layer, the diskette reader and writer and the self-creating
# diskette against the real floppy and USB storage drivers: boots Debian's
# kernel (unpacked from its package, never installed) under qemu with
# software emulation, two floppy drives (A: 1.44 MB, B: 2.88 MB) and three
# USB disks (one with sectors that cannot be read), runs diskette_guest
# (which runs dskread, dskwrite and selfdisk as a user would) in the guest,
# changes diskettes through qemu's monitor when the guest asks, and judges by
# the guest's own CHECK lines and by the image files afterwards.
#   run.sh GUEST_PROGRAM WRITER_PROGRAM WRITER_IMAGES SELFDISK_STUB MKSELFDISK
#          CACHE_DIRECTORY READER_PROGRAM [bench|bench-read]
# WRITER_PROGRAM is a static dskwrite, READER_PROGRAM a static dskread;
# WRITER_IMAGES makes the writer's diskettes and checks the drive images;
# MKSELFDISK makes of the static SELFDISK_STUB a self-creating diskette that
# carries two of them. The last checks eject a diskette in the middle of a
# read and of a write; when the kernel's floppy driver hangs on that (a fault
# of the 6.1 driver, which the guest recognises), a second boot tries those
# checks once more. With "bench" the guest measures dskwrite against dd
# instead and prints BENCH lines (bench/writer.sh), with "bench-read" dskread
# (bench/reader.sh).
# Exit 0: passed; 1: failed; 77: this machine cannot run the guest (skipped).
set -euo pipefail

guest_program=$1
writer_program=$2
writer_images=$3
selfdisk_stub=$4
mkselfdisk=$5
cache=$6
reader_program=$7
mode=${8:-test}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
deadline_seconds=150   # per boot

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

# The kernel package is amd64; qemu emulates the machine in software, so any
# amd64 Debian can run it.
[ "$(dpkg --print-architecture 2>/dev/null)" = amd64 ] || skip "not an amd64 Debian system"
bash "$root/tools/install-packages.sh" qemu-system-x86 busybox-static cpio xz-utils ||
  skip "qemu and its helpers could not be installed"
qemu-system-x86_64 -version >/dev/null 2>&1 || skip "qemu-system-x86_64 does not start here"

mkdir -p "$cache"
# --- Kernel: the package linux-image-amd64 depends on, unpacked once. -------
kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null |
  sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n1) || true
if [ -z "$kernel_package" ]; then
  apt-get update -qq >/dev/null || true
  kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n1) || true
fi
[ -n "$kernel_package" ] || skip "no kernel package behind linux-image-amd64 (no network?)"
kernel_dir="$cache/$kernel_package"
if [ ! -f "$kernel_dir/vmlinux" ]; then
  rm -rf "$kernel_dir.part" && mkdir -p "$kernel_dir.part"
  (cd "$kernel_dir.part" &&
    { apt-get download "$kernel_package" >/dev/null 2>&1 ||
      { apt-get update -qq >/dev/null && apt-get download "$kernel_package" >/dev/null; }; }) ||
    skip "the kernel package $kernel_package could not be downloaded"
  deb=$(ls "$kernel_dir.part"/*.deb)
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kernel_dir.part" --wildcards \
    './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/block/floppy.ko*' \
    './lib/modules/*/kernel/drivers/usb/*' './lib/modules/*/kernel/drivers/scsi/*' \
    './lib/modules/*/kernel/lib/*' './lib/modules/*/kernel/crypto/*' \
    './lib/modules/*/kernel/arch/x86/crypto/*' './lib/modules/*/kernel/block/*'
  rm -f "$deb"
  # The uncompressed kernel inside the bzImage boots through qemu's PVH entry,
  # which spares the guest seconds of decompression under emulation.
  bzimage=$(ls "$kernel_dir.part"/boot/vmlinuz-*)
  setup_sectors=$(od -An -tu1 -j $((0x1F1)) -N1 "$bzimage" | tr -d ' ')
  payload_offset=$(od -An -tu4 -j $((0x248)) -N4 "$bzimage" | tr -d ' ')
  payload_length=$(od -An -tu4 -j $((0x24C)) -N4 "$bzimage" | tr -d ' ')
  start=$(( (setup_sectors + 1) * 512 + payload_offset ))
  { tail -c +$((start + 1)) "$bzimage" | head -c "$payload_length" |
      xz -dc --single-stream >"$kernel_dir.part/vmlinux"; } 2>/dev/null || true
  [ "$(head -c 4 "$kernel_dir.part/vmlinux" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] ||
    fail "could not take the uncompressed kernel out of $bzimage"
  rm -rf "$kernel_dir" && mv "$kernel_dir.part" "$kernel_dir"
fi
modules_root=$(ls -d "$kernel_dir"/lib/modules/*)

# --- Initramfs: busybox, the modules with their dependencies, the guest. ----
work=$(mktemp -d "${TMPDIR:-/tmp}/diskette-qemu.XXXXXX")
qemu_pid=""
cleanup() {
  if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then kill "$qemu_pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT

initramfs="$work/root"
mkdir -p "$initramfs"/{bin,dev,proc,sys,lib,images}
cp /bin/busybox "$initramfs/bin/busybox"
cp "$guest_program" "$initramfs/bin/diskette_guest"
cp "$writer_program" "$initramfs/bin/dskwrite"
cp "$reader_program" "$initramfs/bin/dskread"
"$writer_images" make "$work"
# A self-creating diskette of two diskettes that differ on every track side
# either of them uses, so that one written in place of the other shows.
"$mkselfdisk" -o "$initramfs/bin/selfdisk" -s "$selfdisk_stub" -c -t "Two diskettes for the guest" \
  "$work/files.img" "$work/second.img" >"$work/mkselfdisk.log" ||
  fail "mkselfdisk: $(cat "$work/mkselfdisk.log")"
# Every read of a drive image behind this fails in qemu, whose floppy
# controller then hands the guest zeros; writes go through.
printf '[inject-error]\nevent = "read_aio"\niotype = "read"\nerrno = "5"\n' >"$work/read-error.cfg"
cp "$work/files.img" "$work/files.vlm" "$work/dmf.img" "$work/xd.img" "$initramfs/images/"

module_file() { find "$modules_root" -name "$1.ko*" | head -n1; }
module_order=()
add_module() {
  local name=${1//-/_} file dependency
  for done_name in "${module_order[@]:-}"; do [ "$done_name" = "$name" ] && return 0; done
  file=$(module_file "$name")
  [ -z "$file" ] && file=$(module_file "${name//_/-}")
  [ -z "$file" ] && return 0    # built into the kernel
  for dependency in $(tr '\0' '\n' <"$file" | sed -n 's/^depends=//p' | tr ',' ' '); do
    add_module "$dependency"
  done
  case $file in
    *.ko) cp "$file" "$initramfs/lib/$name.ko" ;;
    *.ko.xz) xz -dc "$file" >"$initramfs/lib/$name.ko" ;;
    *) fail "compressed module format of $file not handled" ;;
  esac
  module_order+=("$name")
}
for module in floppy xhci_pci usb_storage sd_mod; do add_module "$module"; done
printf '%s\n' "${module_order[@]}" >"$initramfs/modules"

cat >"$initramfs/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
for module in $(cat /modules); do insmod /lib/$module.ko || echo "insmod $module failed"; done
# Wait for both floppy drives and the three USB disks: the one with the
# unreadable sectors (known by its USB serial number) is E:, the other
# removable one C:, the hard disk D:.
for attempt in $(seq 100); do
  [ -b /dev/fd0 ] && [ -b /dev/fd1 ] && [ -b /dev/sda ] && [ -b /dev/sdb ] && [ -b /dev/sdc ] &&
    break
  sleep 0.1
done
for disk in sda sdb sdc; do
  if [ "$(cat /sys/block/$disk/device/../../../../serial 2>/dev/null)" = BADSECTORS ]; then
    export DISKETTE_E=/dev/$disk
  elif [ "$(cat /sys/block/$disk/removable)" = 1 ]; then export DISKETTE_C=/dev/$disk
  else export DISKETTE_D=/dev/$disk; fi
done
/bin/diskette_guest "$(sed -n 's/.*guest=\([a-z-]*\).*/\1/p' /proc/cmdline)" </dev/null
echo "GUEST EXIT $?"
poweroff -f
EOF
chmod +x "$initramfs/init"
(cd "$initramfs" && find . | cpio -o -H newc --quiet >"$work/initramfs.cpio")

# --- Diskettes. --------------------------------------------------------------
"$guest_program" make-image "$work/a.img" 1440 A0
"$guest_program" make-image "$work/ro.img" 720 RO
"$guest_program" make-image "$work/da.img" 720 DA
"$guest_program" make-image "$work/db.img" 720 DB
"$guest_program" make-image "$work/usb.img" 1440 U0
truncate -s 4M "$work/hard.img"
# A USB disk holding files.img, on which qemu's blkdebug driver fails every
# read of the sectors the guest names, each with the errno it names.
cp "$work/files.img" "$work/bad.img"
bad_sector_rules=$("$guest_program" bad-sectors |
  sed 's/^\([0-9]*\) \([0-9]*\)$/{"event":"read_aio","iotype":"read","sector":\1,"errno":\2,"once":false}/' |
  paste -sd,)
[ -n "$bad_sector_rules" ] || fail "no bad sectors from $guest_program"
bad_sector_disk='{"driver":"raw","node-name":"badsectors","file":{"driver":"blkdebug",'
bad_sector_disk+='"image":{"driver":"file","filename":"'"$work/bad.img"'"},'
bad_sector_disk+='"inject-error":['"$bad_sector_rules"']}}'

# --- Boot, answering the guest's STEP lines through QMP. ---------------------
# A drive image for the writer: the marker byte only, so the host sees which
# track sides were written.
fresh() { cp "$work/marker.img" "$work/$1"; }
# The same for a diskette of another capacity: fresh_sized NAME BYTES.
fresh_sized() { head -c "$2" /dev/zero | tr '\000' '\132' >"$work/$1"; }

# Sends one QMP command and waits for its answer; events in between are skipped.
qmp() {
  echo "$1" >&3
  local line
  while IFS= read -r -t 20 line <&4; do
    case $line in
      *'"return"'*) return 0 ;;
      *'"error"'*) echo "QMP error: $line"; return 1 ;;
    esac
  done
  echo "QMP: no answer to $1"
  return 1
}
change() {
  qmp "{\"execute\":\"blockdev-change-medium\",\"arguments\":{\"device\":\"$1\",\"filename\":\"$2\",\"format\":\"raw\",\"read-only-mode\":\"read-write\"}}"
}
eject() { qmp "{\"execute\":\"eject\",\"arguments\":{\"device\":\"$1\",\"force\":true}}"; }

# Ejects A: once track side 40 (track 20, side 0; the writer writes them in
# order, so a quarter of the way) differs from the marker in the drive's
# image file.
eject_when_written() {
  local file=$1 waited=$SECONDS
  until ! cmp -s -n 9216 -i $((40 * 9216)) "$file" "$work/marker.img"; do
    [ $((SECONDS - waited)) -gt 30 ] && { echo "nothing reached $file within 30 s"; break; }
    sleep 0.01
  done
  eject floppy0
}

# boot GUEST_MODE CONSOLE_FILE: one run of the guest, until it powers off.
# Sets hung=1 when the floppy driver hung after the eject (the guest says so).
hung=0
boot_number=0
boot() {
  local guest_mode=$1 started=$SECONDS steps_done=0 step
  console=$2
  hung=0
  boot_number=$((boot_number + 1))
  : >"$console"
  mkfifo "$work/mon$boot_number.in" "$work/mon$boot_number.out"
  exec 3<>"$work/mon$boot_number.in" 4<>"$work/mon$boot_number.out"
  qemu-system-x86_64 -M pc -accel tcg -m 256 -smp 1 -display none -no-reboot -nic none \
    -kernel "$kernel_dir/vmlinux" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 rdinit=/init panic=-1 quiet guest=$guest_mode" \
    -global isa-fdc.fallback=144 \
    -drive if=floppy,index=0,format=raw,file="$work/a.img" \
    -drive if=none,id=floppyb,format=raw,file="$work/ro.img",readonly=on \
    -device floppy,unit=1,drive=floppyb,drive-type=288 \
    -device qemu-xhci \
    -drive if=none,id=usbfloppy,format=raw,file="$work/usb.img" \
    -device usb-storage,drive=usbfloppy,removable=on \
    -drive if=none,id=harddisk,format=raw,file="$work/hard.img" \
    -device usb-storage,drive=harddisk \
    -blockdev "$bad_sector_disk" \
    -device usb-storage,drive=badsectors,removable=on,serial=BADSECTORS,rerror=report \
    -serial file:"$console" \
    -chardev pipe,id=monitor,path="$work/mon$boot_number" -mon chardev=monitor,mode=control \
    </dev/null >"$work/qemu.log" 2>&1 &
  qemu_pid=$!
  IFS= read -r -t 20 greeting <&4 || fail "qemu's monitor did not answer: $(cat "$work/qemu.log")"
  qmp '{"execute":"qmp_capabilities"}'
  while kill -0 "$qemu_pid" 2>/dev/null; do
    if [ $((SECONDS - started)) -gt $deadline_seconds ]; then
      cat "$console"
      fail "the guest did not finish within $deadline_seconds s"
    fi
    mapfile -t steps < <(tr -d '\r' <"$console" | sed -n 's/^STEP //p')
    while [ "$steps_done" -lt "${#steps[@]}" ]; do
      step=${steps[$steps_done]}
      steps_done=$((steps_done + 1))
      case $step in
        eject-b) eject floppyb ;;
        insert-b-later) sleep 1.5; change floppyb "$work/da.img" ;;
        swap-b) sleep 1.5; change floppyb "$work/db.img" ;;
        eject-usb) eject usbfloppy ;;
        change-a-used) fresh wa-used.img; change floppy0 "$work/wa-used.img" ;;
        change-a-all) fresh wa-all.img; change floppy0 "$work/wa-all.img" ;;
        eject-a) eject floppy0 ;;
        # Some polls of the waiting writer find the drive empty first.
        insert-a-waited) sleep 1; fresh wa-wait.img; change floppy0 "$work/wa-wait.img" ;;
        change-usb-writer) fresh wc-used.img; change usbfloppy "$work/wc-used.img" ;;
        change-a-unreadable)
          fresh wa-unreadable.img
          change floppy0 "blkdebug:$work/read-error.cfg:$work/wa-unreadable.img" ;;
        change-a-self) fresh ws1.img; change floppy0 "$work/ws1.img" ;;
        # Diskette 1 stays for two polls of the wait, which must not take it
        # again; then out, a second without a diskette, and diskette 2 in.
        swap-a-self)
          sleep 1; eject floppy0; sleep 1; fresh ws2.img; change floppy0 "$work/ws2.img" ;;
        change-a-eject) fresh wa-eject.img; change floppy0 "$work/wa-eject.img" ;;
        change-a-read-eject) fresh ra-eject.img; change floppy0 "$work/ra-eject.img" ;;
        change-a-dmf) fresh_sized wa-dmf.img 1720320; change floppy0 "$work/wa-dmf.img" ;;
        # Out and in again: the driver detects the diskette anew.
        reinsert-a-dmf) eject floppy0; sleep 1; change floppy0 "$work/wa-dmf.img" ;;
        change-b-xd) fresh_sized wb-xd.img 2949120; change floppyb "$work/wb-xd.img" ;;
        eject-a-when-written) eject_when_written "$work/wa-eject.img" ;;
        eject-deadlock)
          hung=1
          kill "$qemu_pid"
          break ;;
        *) fail "unknown step $step" ;;
      esac
    done
    sleep 0.2
  done
  wait "$qemu_pid" 2>/dev/null || true
  qemu_pid=""
  exec 3>&- 4>&-
  tr -d '\r' <"$console" | grep -E '^(CHECK|STEP|GUEST|BENCH|DEADLOCK)' || true
  echo "(boot $boot_number, $guest_mode: $((SECONDS - started)) s)"
}

# judge CONSOLE_FILE: the guest finished without a failed check. Leaves the
# console's lines without their CRs in CONSOLE_FILE.txt.
judge() {
  local log=$1 verdict=0
  tr -d '\r' <"$log" >"$log.txt"
  grep -q '^GUEST DONE failures=0$' "$log.txt" || verdict=1
  # A guest stopped because the driver hung has no exit line.
  [ "$hung" = 1 ] || grep -q '^GUEST EXIT 0$' "$log.txt" || verdict=1
  if grep -q '^CHECK .* FAIL' "$log.txt"; then verdict=1; fi
  if [ "$verdict" -ne 0 ]; then echo "--- guest console ---"; cat "$log.txt"; fi
  return "$verdict"
}

started=$SECONDS
result=0
if [ "$mode" = bench ] || [ "$mode" = bench-read ]; then
  boot "$mode" "$work/console.log"
  judge "$work/console.log" || result=1
  [ "$result" -eq 0 ] && echo "PASSED in $((SECONDS - started)) s" || echo "FAILED"
  exit "$result"
fi

logs=("$work/console.log")
boot run "$work/console.log"
# A hang is the driver's and comes in a few per cent of ejects, so two boots
# for the eject checks alone may follow; a third hang in a row fails.
if [ "$hung" = 1 ]; then
  judge "$work/console.log" || result=1
  for attempt in 1 2; do
    echo "The floppy driver hung after the eject (a fault of the 6.1 driver): once more."
    logs+=("$work/console-eject$attempt.log")
    boot eject "$work/console-eject$attempt.log"
    [ "$hung" = 1 ] || break
    [ "$attempt" = 2 ] || judge "${logs[-1]}" || result=1
  done
  [ "$hung" = 1 ] && { echo "The floppy driver hung again."; result=1; }
fi
judge "${logs[-1]}" || result=1
for name in reader-floppy is-drive-floppy is-drive-usb is-drive-hard-disk \
  open-write-protected geometry-1440 format-sequence write-every-side read-every-side usb-geometry \
  usb-write-every-side usb-read-every-side reader-bad-sectors \
  open-empty wait-after-empty geometry-720 wait-after-swap first-sector-after-swap usb-open-empty \
  wait-write-protected writer-write-protected writer-verify writer-all dismount-as-user-floppy \
  writer-verify-reads-diskette writer-wait-empty writer-usb-format-refused writer-usb-verify \
  dismount-as-user-usb \
  selfdisk-two-diskettes layout-dmf writer-format-dmf geometry-dmf layout-xd writer-format-xd \
  reader-eject-during-read writer-eject-during-write; do
  cat "${logs[@]/%/.txt}" | grep -c "^CHECK $name ok" >/dev/null ||
    { echo "missing: CHECK $name ok"; result=1; }
done
# Every track side the guest wrote is at its offset in the image files; the
# writers' drives hold the diskette's used track sides (or all of them) and
# the marker everywhere else: the self-creating diskette's first drive image
# its diskette 1 (files.img), the second its diskette 2.
"$guest_program" check-image "$work/a.img" 1440 WA || result=1
"$guest_program" check-image "$work/usb.img" 1440 WC || result=1
"$writer_images" check "$work/wa-used.img" used writer-verify || result=1
"$writer_images" check "$work/wa-all.img" all writer-all || result=1
"$writer_images" check "$work/wa-wait.img" used writer-wait-empty || result=1
"$writer_images" check "$work/wc-used.img" used writer-usb-verify || result=1
"$writer_images" check "$work/ws1.img" used selfdisk-diskette-1 || result=1
"$writer_images" check "$work/ws2.img" used selfdisk-diskette-2 second || result=1
"$writer_images" check "$work/wa-dmf.img" used writer-format-dmf dmf || result=1
"$writer_images" check "$work/wb-xd.img" used writer-format-xd xd || result=1
# Reading wrote nothing.
if cmp -s "$work/files.img" "$work/bad.img"; then echo "CHECK host-bad-sectors-unwritten ok"
else echo "CHECK host-bad-sectors-unwritten FAIL"; result=1; fi
[ "$result" -eq 0 ] && echo "PASSED in $((SECONDS - started)) s" || echo "FAILED"
exit "$result"
