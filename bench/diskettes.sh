# bench/diskettes.sh - the benchmarks' diskettes, made with mkfs.fat and
# mtools; sourced by bench/writer.sh and bench/reader.sh.
#   make_diskettes DIRECTORY   DIRECTORY/empty.img: a nearly empty 1.44 MB
#                              diskette (two small files and a directory);
#                              DIRECTORY/full.img: a full one (one file takes
#                              every free cluster)
make_diskettes() {
  local work=$1 free
  mkfs.fat -C "$work/empty.img" 1440 >/dev/null
  seq 1 300 >"$work/README.TXT"
  mcopy -i "$work/empty.img" "$work/README.TXT" ::
  mmd -i "$work/empty.img" ::/DOCS
  mcopy -i "$work/empty.img" "$work/README.TXT" ::/DOCS/NOTES.TXT
  mkfs.fat -C "$work/full.img" 1440 >/dev/null
  free=$(mdir -i "$work/full.img" :: | sed -n 's/^ *\([0-9 ]*\) bytes free$/\1/p' | tr -d ' ')
  seq 1 400000 >"$work/FULL.BIN" && truncate -s "$free" "$work/FULL.BIN"
  mcopy -i "$work/full.img" "$work/FULL.BIN" ::
  [ "$(mdir -i "$work/full.img" :: | sed -n 's/^ *\([0-9 ]*\) bytes free$/\1/p' | tr -d ' ')" = 0 ] ||
    { echo "bench: full.img is not full" >&2; return 1; }
}
