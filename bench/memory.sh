#!/usr/bin/env bash
# Peak resident memory of songwright on files with large tags: COUNT files
# of FORMAT (mp3, flac, ogg, m4a or wv) whose tag holds a PICTURE_MB
# picture and cp1251 text where Latin-1 or UTF-8 is read
# (bench/big-pictures.sh). Measures, each on a fresh copy, the repair of one
# file, of all of them (MP3 with --codepage 1251, other formats in automatic
# mode; default jobs), of all of them with --jobs 1, in automatic mode, and
# the --undo of the repair of all of them. Prints "Maximum resident set
# size" of /usr/bin/time -v in MB.
#
#   bash bench/memory.sh [--count N] [--picture-mb M] [--format F] [--dir DIR]
#                        [--build DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

count=12
picture_mb=20
format=mp3
dir=/dev/shm/songwright-memory
build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --count) count=$2; shift 2 ;;
    --picture-mb) picture_mb=$2; shift 2 ;;
    --format) format=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) sed -n '2,12s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
done
binary=$build/songwright
[ -x "$binary" ] || { echo "no $binary: build first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (GNU time)" >&2; exit 2; }
binary=$(realpath "$binary")

# MP3 files go with the page named; the text of other formats is UTF-8 that
# only automatic mode reads through another page.
page=(-c 1251)
[ "$format" = mp3 ] || page=()

rm -rf "$dir"
mkdir -p "$dir"
bash bench/big-pictures.sh "$dir/source" "$count" "$picture_mb" "$format" >/dev/null

# Runs songwright with its own HOME and state folder and prints its peak RSS
# in MB; its output goes to $dir/last.log.
peak() {
  local log=$dir/time.log
  HOME=$dir/home XDG_STATE_HOME=$dir/state XDG_CONFIG_HOME=$dir/config \
    /usr/bin/time -v -o "$log" "$binary" "$@" >"$dir/last.log" 2>&1 || {
    local status=$?
    # 1: some file could not be repaired; anything else is a failure.
    [ $status -eq 1 ] || { cat "$dir/last.log" >&2; exit 1; }
  }
  awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$log"
}

fresh() {
  rm -rf "$dir/work" "$dir/state" "$dir/home" "$dir/config"
  mkdir -p "$dir/work" "$dir/home"
  cp "$dir"/source/*."$format" "$dir/work/"
}

fresh
rm -f "$dir"/work/*."$format"
cp "$dir/source/01.$format" "$dir/work/"
one=$(peak "${page[@]}" "$dir/work")
fresh
all=$(peak "${page[@]}" "$dir/work")
undo=$(peak --undo)
for song in "$dir"/source/*."$format"; do
  cmp -s "$song" "$dir/work/${song##*/}" || { echo "undo did not restore ${song##*/}" >&2; exit 1; }
done
fresh
single=$(peak "${page[@]}" -j1 "$dir/work")
fresh
auto=$(peak "$dir/work")

echo "peak resident memory (MB), $count $format files with a $picture_mb MB picture each:"
printf '  %-34s %6s\n' "repair, one file" "$one" \
  "repair, $count files" "$all" \
  "repair, $count files, --jobs 1" "$single" \
  "repair, $count files, automatic" "$auto" \
  "undo of the $count-file repair" "$undo"
echo "repeat: bash bench/memory.sh --count $count --picture-mb $picture_mb --format $format"
rm -rf "$dir"
