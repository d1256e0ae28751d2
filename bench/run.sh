#!/usr/bin/env bash
# bench/run.sh - imgextract side by side with mtools and 7-Zip on the same
# diskette images, each against a floor: reading the image once into memory
# (bench/floor_read.c), or a minimal program that writes the same tree
# (bench/floor_extract.c).
#
#   bash bench/run.sh                    # about five minutes
#   ONLY="small1440 small2880" bash bench/run.sh   # only these images
#   PAIRS=41 bash bench/run.sh           # more pairs per ratio
#
# Every ratio comes from interleaved pairs (bench/pairs.c): the command and
# its floor alternate (A B, B A, ...), a ratio per pair, the median of PAIRS
# pairs, three times over; the table shows the median of the three medians
# and their range. Load from other work falls on both sides of a pair alike,
# so the ratios hold where single timings swing. Output goes to /dev/null,
# or through a pipe into a reader ("pipe" rows), where each written line
# wakes the reader: there the floor also writes one line per output line of
# imgextract, one write each. Makes the images with mkfs.fat and mtools
# (raw) and bench/wrap_native (native: sparse, with CRC), counts system calls
# with strace -c and peak memory with GNU time, and prints one table.
# Everything is written below WORK, a tmpfs directory, which is removed at
# the end unless KEEP=1 (REUSE=1 then takes the images kept there).
# IMGEXTRACT=path measures another build of the program. FLOORS=plain takes
# the floors as they were before the least-work ones (buffer from malloc,
# a page fault per 4 KiB; linked dynamically), for comparing with older tables.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build-bench}
PAIRS=${PAIRS:-21}
REPEATS=${REPEATS:-3}
WORK=${WORK:-/dev/shm/imgextract-bench}
KEEP=${KEEP:-0}
REUSE=${REUSE:-0}
ONLY=${ONLY:-}
FLOORS=${FLOORS:-least}
export TZ=UTC MTOOLS_SKIP_CHECK=1 LC_ALL=C

bash tools/install-packages.sh cmake g++ make libgtest-dev dosfstools mtools 7zip time strace

echo "Building into $BUILD ..."
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target imgextract wrap_native floor_read floor_extract \
  floor_read_plain floor_extract_plain pairs >/dev/null
IMGEXTRACT=$(realpath "${IMGEXTRACT:-$BUILD/bin/imgextract}")
WRAP=$BUILD/bin/wrap_native
FLOOR_READ=$BUILD/bin/floor_read
FLOOR_EXTRACT=$BUILD/bin/floor_extract
if [ "$FLOORS" = plain ]; then
  FLOOR_READ=$BUILD/bin/floor_read_plain
  FLOOR_EXTRACT=$BUILD/bin/floor_extract_plain
fi
PAIRS_TIMER=$BUILD/bin/pairs
MDIR=$(command -v mdir)
MCOPY=$(command -v mcopy)
SEVENZIP=$(command -v 7zz)

if [ "$REUSE" = 1 ] && [ -f "$WORK/images/complete" ]; then
  reuse_images=1
else
  reuse_images=0
  rm -rf "$WORK"
fi
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

RAW_IMAGES=()
for kind in small large; do
  for kb in 360 720 1440 2880; do RAW_IMAGES+=("$IMAGES/${kind}${kb}.img"); done
done
RAW_IMAGES+=("$IMAGES/empty1440.img")

if [ "$reuse_images" = 0 ]; then
  echo "Making the images in $WORK/$IMAGES ..."
  for image in "${RAW_IMAGES[@]}"; do
    kind=$(basename "$image" .img)
    kb=${kind//[a-z]/}
    kind=${kind//[0-9]/}
    mkfs.fat -C "$image" "$kb" >/dev/null
    read_geometry "$image"
    "make_$kind" "$image"
  done
  for image in "${RAW_IMAGES[@]}"; do
    "$WRAP" "$image" "${image%.img}.vlm"
    # A deleted entry would end imgextract's extraction with an error.
    if "$IMGEXTRACT" -v "$image" | grep -q '  ?'; then
      echo "bench: $image holds a deleted entry" >&2
      exit 1
    fi
  done
  touch "$IMAGES/complete"
fi


# ---------------------------------------------------------------------------
# Measurements

DEST=dest
RESULTS=$WORK/results/table.tsv
: >"$RESULTS"

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

fresh_dest() { rm -rf "$DEST" && mkdir -p "$DEST"; }

# measure TOOL OPERATION IMAGE_NAME OUTPUT FILES FLOOR_COMMAND -- COMMAND...
# FLOOR_COMMAND is one word list in a string; an extraction (OPERATION
# extract) gets a fresh, empty DEST before every run of either side.
measure() {
  local tool=$1 operation=$2 name=$3 output=$4 files=$5 floor=$6
  shift 7
  local -a fresh=()
  [ "$operation" = extract ] && fresh=(-d "$DEST")
  local figures calls=- peak=-
  # shellcheck disable=SC2086
  figures=$("$PAIRS_TIMER" -p "$PAIRS" -r "$REPEATS" -o "$output" "${fresh[@]}" -- "$@" -- $floor)
  if [ "$output" = null ]; then
    [ "$operation" = extract ] && fresh_dest
    calls=$(syscall_count "$@")
    [ "$operation" = extract ] && fresh_dest
    peak=$(peak_kib "$@")
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$tool" "$operation" "$name" "$output" \
    "$figures" "$calls" "$files" "$peak" >>"$RESULTS"
  echo "    $tool $operation $name $output: $figures"
}

echo "Timing: $PAIRS pairs, $REPEATS times, per ratio ..."
for image in "${RAW_IMAGES[@]}"; do
  name=$(basename "$image" .img)
  if [ -n "$ONLY" ] && ! [[ " $ONLY " == *" $name "* ]]; then continue; fi
  native=${image%.img}.vlm
  # The reference tree, and the check that every tool writes the same files.
  fresh_dest && "$FLOOR_EXTRACT" "$image" "$DEST"
  files=$(find "$DEST" -type f | wc -l)
  rm -rf "$WORK/reference" && mv "$DEST" "$WORK/reference"
  for check in "$IMGEXTRACT -o $image -d $DEST" "$IMGEXTRACT -o $native -d $DEST" \
               "$MCOPY -s -n -m -i $image :: $DEST"; do
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
  # The lines imgextract writes, which the floors write as well in the pipe rows.
  list_lines=$("$IMGEXTRACT" -v "$image" | wc -l)
  fresh_dest
  extract_lines=$("$IMGEXTRACT" -o "$image" -d "$DEST" | wc -l)
  echo "  $name: $files files, $list_lines listing lines, $extract_lines extraction lines"

  read_floor="$FLOOR_READ $image"
  extract_floor="$FLOOR_EXTRACT $image $DEST"
  measure imgextract list "$name" null "$files" "$read_floor" -- "$IMGEXTRACT" -v "$image"
  measure mtools list "$name" null "$files" "$read_floor" -- "$MDIR" -/ -a -i "$image" ::
  measure 7-zip list "$name" null "$files" "$read_floor" -- "$SEVENZIP" l "$image"
  measure imgextract extract "$name" null "$files" "$extract_floor" -- \
    "$IMGEXTRACT" -o "$image" -d "$DEST"
  measure mtools extract "$name" null "$files" "$extract_floor" -- \
    "$MCOPY" -s -n -m -i "$image" :: "$DEST"
  measure 7-zip extract "$name" null "$files" "$extract_floor" -- \
    "$SEVENZIP" x "$image" "-o$DEST" -y
  measure imgextract list "$name" pipe "$files" "$read_floor $list_lines" -- \
    "$IMGEXTRACT" -v "$image"
  measure imgextract extract "$name" pipe "$files" "$extract_floor $extract_lines" -- \
    "$IMGEXTRACT" -o "$image" -d "$DEST"

  read_floor="$FLOOR_READ $native"
  measure imgextract list "$name.vlm" null "$files" "$read_floor" -- "$IMGEXTRACT" -v "$native"
  measure imgextract extract "$name.vlm" null "$files" "$extract_floor" -- \
    "$IMGEXTRACT" -o "$native" -d "$DEST"
  measure imgextract list "$name.vlm" pipe "$files" "$read_floor $list_lines" -- \
    "$IMGEXTRACT" -v "$native"
  measure imgextract extract "$name.vlm" pipe "$files" "$extract_floor $extract_lines" -- \
    "$IMGEXTRACT" -o "$native" -d "$DEST"
done

# ---------------------------------------------------------------------------
# The table

echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(uname -sr)"
echo "ratios to the floor from interleaved pairs: median of $REPEATS medians of $PAIRS pairs"
echo "(least-greatest of the $REPEATS); list: bench/floor_read on the same file, extract:"
echo "bench/floor_extract on the raw image ($FLOORS floors); pipe rows: the floor also writes"
echo "one line per output line; ms: the tool's median time; destination on tmpfs ($WORK)"
echo
awk -F'\t' '
  BEGIN {
    printf "| %-10s | %-9s | %-13s | %-6s | %9s | %7s | %-11s | %13s | %12s |\n", "tool", "operation",
      "image", "output", "median ms", "x floor", "range", "syscalls/file", "peak RSS KiB"
    printf "|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", "------------", "-----------", "---------------",
      "--------", "----------:", "--------:", "-------------", "--------------:", "-------------:"
  }
  { split($5, f, " ")
    calls = $6 == "-" ? "-" : sprintf("%.1f", $6 / $7)
    printf "| %-10s | %-9s | %-13s | %-6s | %9.2f | %7.2f | %-11s | %13s | %12s |\n", $1, $2, $3, $4,
      f[4], f[1], sprintf("%.2f-%.2f", f[2], f[3]), calls, $8 }' "$RESULTS" | tee "$WORK/table.md"

echo
echo "imgextract goals on the small-file 1.44 MB and 2.88 MB images: x floor <= 1.05 (pipe:"
echo "against the floor with its lines); on small1440 at most 5 system calls per extracted"
echo "file; everywhere peak RSS <= image + 2 MiB:"
awk -F'\t' '
  $1 == "imgextract" {
    split($5, f, " "); raw = $3; sub(/\.vlm$/, "", raw)
    kb = raw; gsub(/[a-z]/, "", kb)
    goal = raw == "small1440" || raw == "small2880"
    ok = !goal || f[1] <= 1.05
    line = sprintf("  %-7s %-13s %-4s x floor %5.2f", $2, $3, $4, f[1])
    if ($6 != "-") {
      limitKib = kb + 2048
      ok = ok && $8 <= limitKib
      line = line sprintf("  RSS %5d KiB (limit %d)", $8, limitKib)
      if ($2 == "extract") {
        line = line sprintf("  syscalls/file %4.1f", $6 / $7)
        if (raw == "small1440") ok = ok && $6 / $7 <= 5
      }
    }
    printf "%s  %s\n", line, ok ? (goal ? "met" : "ok") : "NOT MET"
  }' "$RESULTS"

cd "$ROOT"
[ "$KEEP" = 1 ] || rm -rf "$WORK"
