#!/usr/bin/env bash
# bench/run.sh - imgextract side by side with mtools and 7-Zip on the same
# diskette images, and against two floors: reading the image once into
# memory, and a minimal program that writes the same tree (bench/floor_*.c).
#
#   bash bench/run.sh            # about three minutes (20 runs per figure)
#   RUNS=50 bash bench/run.sh    # more runs per figure (steadier medians)
#
# Makes the images with mkfs.fat and mtools (raw) and bench/wrap_native
# (native: sparse, with CRC), times every command with hyperfine (warm-up,
# then RUNS runs, median), counts system calls with strace -c and peak memory
# with GNU time, and prints one table. Everything is written below WORK, a
# tmpfs directory, which is removed at the end unless KEEP=1.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build-bench}
RUNS=${RUNS:-20}
WARMUP=${WARMUP:-3}
WORK=${WORK:-/dev/shm/imgextract-bench}
KEEP=${KEEP:-0}
export TZ=UTC MTOOLS_SKIP_CHECK=1 LC_ALL=C

bash tools/install-packages.sh cmake g++ make libgtest-dev dosfstools mtools 7zip \
  hyperfine time strace

echo "Building into $BUILD ..."
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target imgextract wrap_native floor_read floor_extract >/dev/null
IMGEXTRACT=$BUILD/bin/imgextract
WRAP=$BUILD/bin/wrap_native
FLOOR_READ=$BUILD/bin/floor_read
FLOOR_EXTRACT=$BUILD/bin/floor_extract

rm -rf "$WORK"
mkdir -p "$WORK/images" "$WORK/stage" "$WORK/results"
# Relative paths from here on: imgextract reads an argument that starts with
# "/" as a switch.
cd "$WORK"
IMAGES=images

# ---------------------------------------------------------------------------
# Images

seed=12345
next_random() {   # a deterministic LCG, so every run builds the same images
  seed=$(((seed * 1103515245 + 12345) & 0x7fffffff))
  random=$((seed >> 8))
}

seq 1 500000 >"$WORK/pattern" && truncate -s 3000000 "$WORK/pattern"
file_number=0
# make_file PATH SIZE: content from the pattern, an mtime between 1990 and 2009.
make_file() {
  head -c "$2" "$WORK/pattern" >"$1"
  next_random
  touch -d "@$((631152000 + random * 75 % 631152000 / 2 * 2))" "$1"
  file_number=$((file_number + 1))
}

# Data-area bytes and cluster size of a raw image, from its boot sector.
read_geometry() {
  local -a b
  b=($(od -An -tu1 -j11 -N14 "$1"))
  local bytes_per_sector=$((b[0] + 256 * b[1])) per_cluster=${b[2]}
  local reserved=$((b[3] + 256 * b[4])) fats=${b[5]} root=$((b[6] + 256 * b[7]))
  local total=$((b[8] + 256 * b[9])) per_fat=$((b[11] + 256 * b[12]))
  cluster=$((bytes_per_sector * per_cluster))
  local data_start=$((reserved + fats * per_fat + root * 32 / bytes_per_sector))
  capacity=$(((total - data_start) / per_cluster * cluster))
}

clusters_of() { echo $((($1 + cluster - 1) / cluster * cluster)); }

# Fragmentation: sixteen one-cluster files in the root, every second one
# deleted; the files copied next fill those holes first and so are split. The
# deleted root slots are taken again by the entries that follow, so no deleted
# entry stays behind.
make_holes() {
  local image=$1 stage=$WORK/stage/spacers i
  rm -rf "$stage" && mkdir -p "$stage"
  for i in $(seq -w 1 16); do make_file "$stage/SPACE$i.BIN" $((cluster - 100)); done
  mcopy -m -i "$image" "$stage"/* ::
  for i in 02 04 06 08 10 12 14 16; do mdel -i "$image" "::/SPACE$i.BIN"; done
  used=$((8 * cluster))
}

DIRECTORIES=(APPS APPS/TOOLS APPS/TOOLS/BIN APPS/TOOLS/BIN/OLD
  DOCS DOCS/MANUAL DOCS/MANUAL/CHAP1 DOCS/MANUAL/CHAP1/FIGS DOCS/MANUAL/CHAP2
  SRC SRC/LIB SRC/LIB/CORE SRC/LIB/CORE/TEST SRC/APP
  DATA DATA/Y2019 DATA/Y2019/Q1 DATA/Y2019/Q1/RAW)
EXTENSIONS=(TXT DAT EXE COM DOC BIN)

# A diskette nearly full of small files (100 B to 20 KB) in directories four
# levels deep; the first eight files are split over the holes.
make_small() {
  local image=$1 stage=$WORK/stage/tree i=0 size place
  make_holes "$image"
  rm -rf "$WORK/stage/first" "$stage" && mkdir -p "$WORK/stage/first" "$stage"
  for i in 1 2 3 4 5 6 7 8; do
    size=$((cluster * 3 / 2 + 100))
    make_file "$WORK/stage/first/SPLIT$i.DAT" "$size"
    used=$((used + $(clusters_of "$size")))
  done
  mcopy -m -i "$image" "$WORK/stage/first"/* ::
  for place in "${DIRECTORIES[@]}"; do mkdir -p "$stage/$place"; done
  # Directory clusters, and some room so that the last files always fit.
  local target=$((capacity * 93 / 100 - ${#DIRECTORIES[@]} * 2 * cluster))
  i=0
  while :; do
    next_random
    size=$((100 + random % 20381))
    [ $((used + $(clusters_of "$size"))) -gt "$target" ] && break
    local slot=$((i % (${#DIRECTORIES[@]} + 1)))
    if [ "$slot" -eq 0 ]; then place=$stage; else place=$stage/${DIRECTORIES[slot - 1]}; fi
    make_file "$(printf '%s/F%05d.%s' "$place" "$i" "${EXTENSIONS[i % 6]}")" "$size"
    used=$((used + $(clusters_of "$size")))
    i=$((i + 1))
  done
  mcopy -s -m -i "$image" "$stage"/* ::
}

# The same diskette with four large files (a third, a quarter, a fifth and a
# tenth of it), the first split over the holes, two of them four levels deep.
make_large() {
  local image=$1 stage=$WORK/stage/large i
  make_holes "$image"
  rm -rf "$stage" && mkdir -p "$stage/ARCHIVE/DISK1/PARTS/ALL"
  make_file "$stage/LARGE1.ZIP" $((capacity / 3 - 300))
  make_file "$stage/LARGE2.ZIP" $((capacity / 4 - 700))
  make_file "$stage/ARCHIVE/DISK1/PARTS/ALL/LARGE3.ZIP" $((capacity / 5 - 900))
  make_file "$stage/ARCHIVE/DISK1/PARTS/ALL/LARGE4.ZIP" $((capacity / 10 - 1300))
  for i in 1 2 3 4 5 6; do make_file "$stage/README$i.TXT" $((200 * i)); done
  mcopy -s -m -i "$image" "$stage"/* ::
}

# A 1.44 MB diskette with two small files.
make_empty() {
  local image=$1 stage=$WORK/stage/empty
  rm -rf "$stage" && mkdir -p "$stage/DOCS"
  make_file "$stage/README.TXT" 1000
  make_file "$stage/DOCS/INFO.TXT" 2000
  mcopy -s -m -i "$image" "$stage"/* ::
}

echo "Making the images in $IMAGES ..."
RAW_IMAGES=()
for kind in small large; do
  for kb in 360 720 1440 2880; do
    image=$IMAGES/${kind}${kb}.img
    mkfs.fat -C "$image" "$kb" >/dev/null
    read_geometry "$image"
    "make_$kind" "$image"
    RAW_IMAGES+=("$image")
  done
done
mkfs.fat -C "$IMAGES/empty1440.img" 1440 >/dev/null
read_geometry "$IMAGES/empty1440.img"
make_empty "$IMAGES/empty1440.img"
RAW_IMAGES+=("$IMAGES/empty1440.img")

for image in "${RAW_IMAGES[@]}"; do
  "$WRAP" "$image" "${image%.img}.vlm"
  # A deleted entry would end imgextract's extraction with an error.
  if "$IMGEXTRACT" -v "$image" | grep -q '  ?'; then
    echo "bench: $image holds a deleted entry" >&2
    exit 1
  fi
done

# ---------------------------------------------------------------------------
# Measurements

DEST=dest
RESULTS=$WORK/results/table.tsv
: >"$RESULTS"

# median_ms NAME PREPARE COMMAND...: hyperfine's median in milliseconds.
median_ms() {
  local name=$1 prepare=$2
  shift 2
  local json=$WORK/results/$name.json
  local -a prepare_option=()
  [ -n "$prepare" ] && prepare_option=(--prepare "$prepare")
  hyperfine -N --style none --warmup "$WARMUP" --runs "$RUNS" "${prepare_option[@]}" \
    --export-json "$json" -- "$(printf '%q ' "$@")" >/dev/null 2>&1
  sed -n 's/^ *"median": *\([0-9.e-]*\),*$/\1/p' "$json" | head -1 | awk '{ printf "%.3f", $1 * 1000 }'
}

# syscall_count COMMAND...: all system calls of one run, as strace -c counts them.
syscall_count() {
  local out=$WORK/results/strace.txt
  strace -f -c -o "$out" "$@" >/dev/null 2>&1 || true
  awk '$NF == "total" { print $4 }' "$out"
}

# peak_kib COMMAND...: the peak resident set of one run, in KiB.
peak_kib() {
  local out=$WORK/results/time.txt
  /usr/bin/time -f %M -o "$out" "$@" >/dev/null 2>&1 || true
  tail -1 "$out"
}

fresh="bash -c 'rm -rf $DEST && mkdir -p $DEST'"
fresh_dest() { rm -rf "$DEST" && mkdir -p "$DEST"; }

# measure TOOL OPERATION IMAGE_NAME FILES PREPARE COMMAND...
measure() {
  local tool=$1 operation=$2 name=$3 files=$4 prepare=$5
  shift 5
  local median calls peak
  median=$(median_ms "$tool-$operation-$name" "$prepare" "$@")
  [ -n "$prepare" ] && fresh_dest
  calls=$(syscall_count "$@")
  [ -n "$prepare" ] && fresh_dest
  peak=$(peak_kib "$@")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$tool" "$operation" "$name" "$median" "$calls" "$files" \
    "$peak" >>"$RESULTS"
}

echo "Timing: $WARMUP warm-up runs, then $RUNS runs per figure (median) ..."
for image in "${RAW_IMAGES[@]}"; do
  name=$(basename "$image" .img)
  native=${image%.img}.vlm
  # The reference tree, and the check that every tool writes the same files.
  fresh_dest && "$FLOOR_EXTRACT" "$image" "$DEST"
  files=$(find "$DEST" -type f | wc -l)
  rm -rf "$WORK/reference" && mv "$DEST" "$WORK/reference"
  for check in "$IMGEXTRACT -o $image -d $DEST" "$IMGEXTRACT -o $native -d $DEST" \
               "mcopy -s -n -m -i $image :: $DEST"; do
    fresh_dest && $check >/dev/null
    if ! diff -r "$WORK/reference" "$DEST" >/dev/null; then
      echo "bench: '$check' wrote a different tree" >&2
      exit 1
    fi
    # imgextract also gives every file the same time and mode as the floor.
    if [ "${check%% *}" = "$IMGEXTRACT" ] &&
       ! diff <(cd "$WORK/reference" && find . -type f -printf '%p %T@ %m\n' | sort) \
              <(cd "$DEST" && find . -type f -printf '%p %T@ %m\n' | sort) >/dev/null; then
      echo "bench: '$check' wrote other times or modes" >&2
      exit 1
    fi
  done
  echo "  $name: $files files"

  measure floor read "$name" "$files" "" "$FLOOR_READ" "$image"
  measure imgextract list "$name" "$files" "" "$IMGEXTRACT" -v "$image"
  measure mtools list "$name" "$files" "" mdir -/ -a -i "$image" ::
  measure 7-zip list "$name" "$files" "" 7zz l "$image"
  measure floor extract "$name" "$files" "$fresh" "$FLOOR_EXTRACT" "$image" "$DEST"
  measure imgextract extract "$name" "$files" "$fresh" "$IMGEXTRACT" -o "$image" -d "$DEST"
  measure mtools extract "$name" "$files" "$fresh" mcopy -s -n -m -i "$image" :: "$DEST"
  measure 7-zip extract "$name" "$files" "$fresh" 7zz x "$image" "-o$DEST" -y

  measure floor read "$name.vlm" "$files" "" "$FLOOR_READ" "$native"
  measure imgextract list "$name.vlm" "$files" "" "$IMGEXTRACT" -v "$native"
  measure imgextract extract "$name.vlm" "$files" "$fresh" "$IMGEXTRACT" -o "$native" -d "$DEST"
done

# ---------------------------------------------------------------------------
# The table

echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(uname -sr)"
echo "median of $RUNS runs after $WARMUP warm-up runs; destination on tmpfs ($WORK)"
echo "x floor: list against reading the same file once, extract against bench/floor_extract"
echo "on the raw image; x mtools: against mtools on the raw image of the same diskette"
echo
awk -F'\t' '
  { key = $2 "|" $3; raw = $3; sub(/\.vlm$/, "", raw)
    tool[NR] = $1; op[NR] = $2; img[NR] = $3; ms[NR] = $4; calls[NR] = $5; files[NR] = $6; kib[NR] = $7
    if ($1 == "floor" && $2 == "read") floorRead[$3] = $4
    if ($1 == "floor" && $2 == "extract") floorExtract[$3] = $4
    if ($1 == "mtools") mtools[$2 "|" $3] = $4 }
  END {
    printf "| %-10s | %-9s | %-13s | %10s | %7s | %8s | %13s | %13s |\n", "tool", "operation", "image", "median ms", "x floor", "x mtools", "syscalls/file", "peak RSS KiB"
    printf "|%s|%s|%s|%s|%s|%s|%s|%s|\n", "------------", "-----------", "---------------", "-----------:", "--------:", "---------:", "--------------:", "--------------:"
    for (i = 1; i <= NR; ++i) {
      raw = img[i]; sub(/\.vlm$/, "", raw)
      floor = op[i] == "read" || op[i] == "list" ? floorRead[img[i]] : floorExtract[raw]
      m = mtools[(op[i] == "read" ? "list" : op[i]) "|" raw]
      printf "| %-10s | %-9s | %-13s | %10.2f | %7.2f | %8s | %13.1f | %13d |\n", tool[i], op[i], img[i], ms[i],
        ms[i] / floor, (m > 0 ? sprintf("%.2f", ms[i] / m) : "-"), calls[i] / files[i], kib[i]
    }
  }' "$RESULTS" | tee "$WORK/table.md"

echo
echo "imgextract goals (list <= 1.05 x floor, extract <= 1.2 x floor, <= 5 syscalls per"
echo "extracted file, peak RSS <= image + 2 MiB):"
awk -F'\t' '
  { if ($1 == "floor" && $2 == "read") floorRead[$3] = $4
    if ($1 == "floor" && $2 == "extract") floorExtract[$3] = $4 }
  $1 == "imgextract" { row[++n] = $0 }
  END {
    for (i = 1; i <= n; ++i) {
      split(row[i], f, "\t"); raw = f[3]; sub(/\.vlm$/, "", raw)
      kb = raw; gsub(/[a-z]/, "", kb)
      limitKib = kb + 2048
      if (f[2] == "list") { ratio = f[4] / floorRead[f[3]]; ok = ratio <= 1.05 }
      else { ratio = f[4] / floorExtract[raw]; ok = ratio <= 1.2 && f[5] / f[6] <= 5 }
      ok = ok && f[7] <= limitKib
      printf "  %-7s %-13s x floor %5.2f  syscalls/file %5.1f  RSS %5d KiB (limit %d)  %s\n",
        f[2], f[3], ratio, f[5] / f[6], f[7], limitKib, ok ? "met" : "NOT MET"
    }
  }' "$RESULTS"

cd "$ROOT"
[ "$KEEP" = 1 ] || rm -rf "$WORK"
