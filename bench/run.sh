#!/usr/bin/env bash
# Times songwright against mid3iconv and the I/O floor on a generated
# library, and the scan against find on a tree of empty files. Every timed
# run of a tool that writes gets a fresh copy of the library (the copy is not
# timed). Prints medians, peak RSS, the ratios and the command to repeat them.
#
#   bash bench/run.sh [--files N] [--profile small|real] [--runs R] [--seed S]
#                     [--dir DIR] [--state DIR] [--scan-entries E] [--build DIR]
#                     [--floor-rewrite shift|copy] [--no-micro] [--clean]
#                     [--fs ext4|xfs|btrfs|exfat|tmpfs|all] [--library mp3|mixed]
#   bash bench/run.sh --smoke [--fs tmpfs] [--library mixed]
set -euo pipefail
cd "$(dirname "$0")/.."

files=2000
profile=small
runs=5
seed=1
dir=/dev/shm/songwright-bench
state=""
scan_entries=100000
build=build
floor_rewrite=shift
micro=true
clean=false
smoke=false
given_dir=false
given_state=false
fs=""
library_kind=mp3
given_files=false
args=("$@")

usage() {
  sed -n '2,11s/^# \{0,1\}//p' "$0" >&2
  cat >&2 <<'EOF'

  --files N           songs in the library (default 2000; 1000 for mixed)
  --profile P         small: about 1 MB a song; real: 3 to 8 MB (default small)
  --runs R            timed runs of each command, at least 5 (default 5)
  --seed S            generator seed (default 1)
  --dir DIR           where the library, its copies and the scan tree go
                      (default /dev/shm/songwright-bench, tmpfs); a folder on
                      a real disk times the disk too, with a sync in each run
  --state DIR         songwright's state folder, where its run journal goes
                      (default: beside the library on a real disk, else
                      /var/tmp/songwright-bench-state); emptied before each run
  --scan-entries E    entries of the scan tree (default 100000)
  --build DIR         the build tree (default build)
  --floor-rewrite M   how the floor rewrites a whole file: shift in place
                      (default) or copy to a new file and rename
  --no-micro          skip the Google Benchmark microbenchmarks
  --clean             remove the library and the tree afterwards (they are
                      kept for the next run with the same parameters)
  --smoke             20 songs, every step once, no figures worth reading: only
                      proves that the generator and each step work
  --fs TYPE           a fresh file system for the library, its copies and the
                      state folder: ext4, xfs, btrfs (loop images in /var/tmp),
                      exfat (a loop image through FUSE) or tmpfs (/dev/shm,
                      state on the disk); all runs each in turn and ends with a
                      table. Compares songwright, mid3iconv and the floor only
                      (no scan), traces the opens and reads of each file; the
                      loop images need root and are taken away afterwards
  --library L         mp3 (default): the MP3 library of bench/generate.cc;
                      mixed: FLAC (half without padding), Ogg Vorbis, Opus,
                      WAV, AIFF, MP4, WMA, APE, WavPack and MP3 songs of the
                      same sizes (bench/mixed-library.py, the albums of
                      bench/formats), timed with --codepage 1251 and in the
                      automatic mode against the floor of bench/floor-formats.cc
                      (no peer, no scan); adds a table of the costs of each
                      format (bench/mixed.sh)
EOF
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --files) files=${2:?}; given_files=true; shift ;;
    --library) library_kind=${2:?}; shift ;;
    --profile) profile=${2:?}; shift ;;
    --runs) runs=${2:?}; shift ;;
    --seed) seed=${2:?}; shift ;;
    --dir) dir=${2:?}; given_dir=true; shift ;;
    --state) state=${2:?}; given_state=true; shift ;;
    --scan-entries) scan_entries=${2:?}; shift ;;
    --build) build=${2:?}; shift ;;
    --floor-rewrite) floor_rewrite=${2:?}; shift ;;
    --no-micro) micro=false ;;
    --clean) clean=true ;;
    --smoke) smoke=true ;;
    --fs) fs=${2:?}; shift ;;
    *) usage ;;
  esac
  shift
done
[[ $files =~ ^[0-9]+$ && $runs =~ ^[0-9]+$ && $seed =~ ^[0-9]+$ && $scan_entries =~ ^[0-9]+$ ]] ||
  usage
[ "$profile" = small ] || [ "$profile" = real ] || usage
[ "$floor_rewrite" = shift ] || [ "$floor_rewrite" = copy ] || usage
[ "$library_kind" = mp3 ] || [ "$library_kind" = mixed ] || usage
mixed=false
if [ "$library_kind" = mixed ]; then
  mixed=true
  source bench/mixed.sh
  $given_files || files=1000
  micro=false
fi
if [ -n "$fs" ]; then
  source bench/fs.sh
  [[ " $fs_types all " == *" $fs "* ]] || usage
  if $given_dir || $given_state; then
    echo "bench: --fs decides where the library and the state folder go; drop --dir and --state" >&2
    exit 2
  fi
fi

# --fs all: each file system in turn, by this script, then one table of them.
if [ "$fs" = all ]; then
  rows=$(mktemp "${TMPDIR:-/tmp}/songwright-bench-rows.XXXXXX")
  trap 'rm -f "$rows"' EXIT
  for type in $fs_types; do
    pass=()
    for ((i = 0; i < ${#args[@]}; ++i)); do
      if [ "${args[i]}" = --fs ]; then ((++i)); else pass+=("${args[i]}"); fi
    done
    echo "=== $type"
    code=0
    SONGWRIGHT_BENCH_ROW=$rows bash "$0" "${pass[@]}" --fs "$type" || code=$?
    # Stopped (Ctrl-C): stop here too. Failed: on to the next.
    [ "$code" -lt 128 ] || exit "$code"
    [ "$code" = 0 ] || printf '%s\tfailed (exit %s)\n' "$type" "$code" >>"$rows"
    echo ""
  done
  echo "File systems (medians of the timed runs; flushes, opens and reads from one traced run):"
  { printf 'fs\tsongwright s\tmid3iconv s\tfloor s\tsw/peer\tsw/floor\trepaired\tflushes (target)\t'
    printf 'opens/repaired (max)\treads/repaired (max)\topens/other (max)\treads/other (max)\tfailed opens in library\troute\n'
    cat "$rows"; } | column -t -s $'\t'
  exit 0
fi

if $smoke; then
  files=20
  runs=1
  scan_entries=2000
  $given_dir || [ -n "$fs" ] || dir=$(mktemp -d "${TMPDIR:-/tmp}/songwright-smoke.XXXXXX")
  clean=true
elif [ "$runs" -lt 5 ]; then
  echo "bench: --runs must be at least 5 for medians worth reporting" >&2
  exit 2
fi

say() { printf '%s\n' "$*"; }
fail() {
  printf 'bench: %s\n' "$*" >&2
  exit 1
}

# --- Tools and build ----------------------------------------------------------

# A full run installs what it needs; the smoke run makes do without, except
# for the tools of the file system it is asked to make.
missing=()
if ! $smoke; then
  [ -x /usr/bin/time ] || missing+=(time)
  command -v mid3iconv >/dev/null || missing+=(python3-mutagen)
  [ "$(dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null)" = "install ok installed" ] ||
    missing+=(libbenchmark-dev)
  command -v strace >/dev/null || missing+=(strace)
fi
if $mixed; then
  # The smoke run makes do without them too: it skips the mixed library.
  mixed_missing=($(mixed_packages))
  if $smoke && [ ${#mixed_missing[@]} -gt 0 ]; then
    say "Skipping the mixed library: it needs ${mixed_missing[*]}."
    exit 0
  fi
  missing+=("${mixed_missing[@]}")
fi
[ -z "$fs" ] || missing+=($(fs_packages "$fs"))
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  say "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

if [ ! -f "$build/build.ninja" ]; then
  bash scripts/build-linux.sh "$build"
fi
cmake -S . -B "$build" >/dev/null
ninja -C "$build" songwright songwright_bench_generate songwright_bench_floor \
  songwright_bench_scan_only songwright_bench_floor-formats >/dev/null
have_micro=false
targets=$(ninja -C "$build" -t targets all 2>/dev/null)
if grep -q '^songwright_bench_micro:' <<<"$targets"; then
  ninja -C "$build" songwright_bench_micro >/dev/null
  have_micro=true
fi
songwright=$PWD/$build/songwright
generate=$PWD/$build/bench/generate
floor=$PWD/$build/bench/floor
scan_only=$PWD/$build/bench/scan_only
floor_formats=$PWD/$build/bench/floor-formats

have_time=false
[ -x /usr/bin/time ] && have_time=true
have_peer=false
if command -v mid3iconv >/dev/null; then
  have_peer=true
elif $smoke || $mixed; then
  $mixed || say "Skipping the peer: mid3iconv is not installed (apt-get install python3-mutagen)."
else
  fail "mid3iconv is missing"
fi
# mid3iconv repairs MP3 files only: no peer for the mixed library.
! $mixed || have_peer=false

# --- Places -------------------------------------------------------------------

per_song=$([ "$profile" = real ] && echo 5600000 || echo 1100000)
scratch=""
cleanup() {
  [ -z "$scratch" ] || rm -rf "$scratch"
  if [ -n "$fs" ]; then
    [ -z "$state" ] || rm -rf "$state/songwright"
    [ "$fs" != tmpfs ] || rmdir "$state" 2>/dev/null || true
    fs_teardown
    return 0
  fi
  rm -rf "${work:-}"
  if [ -n "$state" ]; then
    rm -rf "$state/songwright"
    rmdir "$state" 2>/dev/null || true
  fi
  if $clean; then
    rm -rf "$library" "$library.stamp" "$info" "$dir/flac-without-padding.txt" "$tree" "$tree.stamp" "$dir/scan-tree.txt"
    rmdir "$dir" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if [ -n "$fs" ]; then
  fs_prepare "$fs" $((files * per_song * 2 + 64 * 1024 * 1024))
  dir=$fs_dir
  state=$fs_state
  # The scratch files (the traces among them) stay off the file system measured.
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/songwright-bench-scratch.XXXXXX")
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
library=$dir/library
info=$dir/library.txt
if $mixed; then library=$dir/library-mixed; info=$dir/library-mixed.txt; fi
work=$dir/work
tree=$dir/scan-tree
[ -n "$scratch" ] || scratch=$(mktemp -d "$dir/scratch.XXXXXX")

fstype=$(stat -f -c %T "$dir")
on_disk=true
[ "$fstype" = tmpfs ] && on_disk=false
# The run journal is flushed like the files: by default it lives where a
# user's would, on a real disk.
if [ -z "$state" ]; then
  if $on_disk; then state=$dir/state; else state=/var/tmp/songwright-bench-state; fi
fi
mkdir -p "$state"
state=$(cd "$state" && pwd)
state_fstype=$(stat -f -c %T "$state")
state_disk=true
[ "$state_fstype" = tmpfs ] && state_disk=false
export XDG_STATE_HOME=$state

# Room for the library and one copy of it.
need=$((files * per_song * 2 + 64 * 1024 * 1024))
have=$(df --output=avail -B1 "$dir" | tail -1)
[ -d "$library" ] && need=$((need / 2))
[ "$have" -ge "$need" ] ||
  fail "$dir has $((have / 1000000)) MB free, the library and a copy need about $((need / 1000000)) MB"

# The library is kept between runs of the script when its parameters match.
stamp="files=$files profile=$profile seed=$seed generator=$(md5sum <"$generate" | cut -c1-12)"
$mixed && stamp="mixed $(mixed_stamp)"
if [ ! -f "$library.stamp" ] || [ "$(cat "$library.stamp")" != "$stamp" ]; then
  rm -rf "$library" "$library.stamp"
  started=$EPOCHREALTIME
  if $mixed; then
    mixed_generate >"$info"
  else
    "$generate" --files "$files" --profile "$profile" --seed "$seed" "$library" >"$info"
  fi
  say "Generated the library in $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.1f", b-a}') s."
  echo "$stamp" >"$library.stamp"
fi
tree_stamp="entries=$scan_entries seed=$seed generator=$(md5sum <"$generate" | cut -c1-12)"
if [ -z "$fs" ] && ! $mixed && { [ ! -f "$tree.stamp" ] || [ "$(cat "$tree.stamp")" != "$tree_stamp" ]; }; then
  rm -rf "$tree" "$tree.stamp"
  "$generate" --empty-tree "$scan_entries" --seed "$seed" "$tree" >"$dir/scan-tree.txt"
  echo "$tree_stamp" >"$tree.stamp"
fi

# --- Measuring ----------------------------------------------------------------

declare -A times rss cpu status
last_out=$scratch/out
last_err=$scratch/err

# measure NAME COMMAND...: appends the wall time (s), peak RSS (KB) and CPU
# time (s) of one run to the lists for NAME. On a disk the time includes
# writing the copy's dirty pages back, since that is the work the command
# caused.
measure() {
  local name=$1
  shift
  local started ended code=0
  started=$EPOCHREALTIME
  if $have_time; then
    /usr/bin/time -f '%M %U %S' -o "$scratch/rss" "$@" >"$last_out" 2>"$last_err" || code=$?
  else
    "$@" >"$last_out" 2>"$last_err" || code=$?
  fi
  if [ -n "$fs" ]; then
    fs_sync "$work"
  elif $on_disk && [ -d "$work" ]; then
    sync -f "$work" 2>/dev/null || sync
  fi
  ended=$EPOCHREALTIME
  times[$name]+="$(awk -v a="$started" -v b="$ended" 'BEGIN{printf "%.4f", b-a}') "
  if $have_time; then
    read -r kb user system < <(tail -1 "$scratch/rss")
    rss[$name]+="$kb "
    cpu[$name]+="$(awk -v u="$user" -v s="$system" 'BEGIN{printf "%.2f", u + s}') "
  else
    rss[$name]+="0 "
    cpu[$name]+="0 "
  fi
  status[$name]=$code
}

fresh_copy() {
  rm -rf "$work" "$state/songwright"
  # A copy by reflink (xfs, btrfs) shares the library's blocks and leaves the
  # copy out of the page cache, to be read from the disk where ext4's copy is
  # read from memory: every file system gets a real copy. exFAT keeps no owners.
  case $fs in
    "") cp -a "$library" "$work" ;;
    exfat) cp -R --preserve=timestamps "$library" "$work" ;;
    *) cp -a --reflink=never "$library" "$work" ;;
  esac
  if $on_disk || $state_disk; then sync; fi
  [ -z "$fs" ] || fs_sync "$work"
}

# The peer: mid3iconv over every MP3 name that find lists; $1 is the folder.
peer_command='find "$1" -iname "*.mp3" -print0 | xargs -0 mid3iconv -q -e cp1251'

median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{v[NR]=$1} END{if(NR%2) printf "%.4f", v[(NR+1)/2]; else printf "%.4f", (v[NR/2]+v[NR/2+1])/2}'; }
maximum() { tr ' ' '\n' | sed '/^$/d' | sort -g | tail -1; }
minimum() { tr ' ' '\n' | sed '/^$/d' | sort -g | sed -n 1p; }

fixed=""
floor_summary=""
peer_errors=""
library_tools=(songwright floor durable)
$have_peer && library_tools=(songwright peer floor durable)
# On a file system of its own, the comparison with the peer and the floor.
if [ -n "$fs" ]; then library_tools=(songwright floor); $have_peer && library_tools=(songwright peer floor); fi
# The mixed library: songwright with the MP3 benchmark's code page, in the
# automatic mode, and the floor of the same repair.
sw_args=(--codepage 1251)
if $mixed; then
  library_tools=(songwright automatic floor)
  say "Planning the floor: songwright's repair of a copy, compared with the library."
  mixed_plan "$scratch/plan" "${sw_args[@]}"
fi

# Other work on the machine blurs every figure: say so beside them.
load_before=$(cut -d' ' -f1 /proc/loadavg)

say "Timing $runs runs of: ${library_tools[*]} on $files songs ($profile)$([ -n "$fs" ] || $mixed || echo ", then the scan")."
for ((run = 1; run <= runs; ++run)); do
  # Each run starts with another tool, so none always runs first.
  count=${#library_tools[@]}
  for ((k = 0; k < count; ++k)); do
    tool=${library_tools[$(((run - 1 + k) % count))]}
    fresh_copy
    case $tool in
      songwright)
        measure songwright "$songwright" "${sw_args[@]}" "$work"
        [ "${status[songwright]}" -le 1 ] || fail "songwright exited with ${status[songwright]}: $(cat "$last_err")"
        fixed=$(tail -1 "$last_out")
        fixed_count=$(grep -c '^fixed' "$last_out" || true)
        failed_count=$(grep -c '^failed' "$last_out" || true)
        { grep '^failed' "$last_out" || true; } | cut -f2 >"$scratch/broken"
        # Again over the repaired copy: reading and deciding alone.
        measure again "$songwright" "${sw_args[@]}" "$work"
        again_fixed=$(grep -c '^fixed' "$last_out" || true)
        ;;
      peer)
        measure peer bash -c "$peer_command" peer "$work"
        peer_errors=$(grep -c . "$last_err" || true)
        ;;
      automatic)
        measure automatic "$songwright" "$work"
        [ "${status[automatic]}" -le 1 ] || fail "songwright exited with ${status[automatic]}: $(cat "$last_err")"
        automatic_fixed=$(grep -c '^fixed' "$last_out" || true)
        ;;
      floor)
        if $mixed; then
          measure floor "$floor_formats" --plan "$scratch/plan" --rewrite "$floor_rewrite" "$work"
        else
          measure floor "$floor" --rewrite "$floor_rewrite" "$work"
        fi
        [ "${status[floor]}" = 0 ] || fail "floor exited with ${status[floor]}: $(cat "$last_err")"
        floor_summary=$(cat "$last_out")
        ;;
      durable)
        measure durable "$floor" --rewrite "$floor_rewrite" --fsync "$work"
        [ "${status[durable]}" = 0 ] || fail "floor exited with ${status[durable]}: $(cat "$last_err")"
        ;;
    esac
  done
done
# One more run of each, untimed and traced (strace -ff -y -T, a log a thread,
# read by bench/syscalls.awk): the flushes it asks for (fsync, fdatasync,
# syncfs, sync), the audio it moves (copy_file_range) or the room it opens
# (fallocate), the opens and reads of each file, the time in each call, and
# the bytes it sends to storage (write_bytes of /proc/<pid>/io, which takes
# in the children waited for).
declare -A calls written trace
have_strace=false
command -v strace >/dev/null && have_strace=true
traced() {
  local name=$1
  shift
  fresh_copy
  if $have_strace; then
    rm -rf "$scratch/trace"
    mkdir "$scratch/trace"
    strace -ff -y -qq -s 0 -T -o "$scratch/trace/log" \
      bash -c '"$@" >/dev/null 2>&1; sed -n "s/^write_bytes: //p" /proc/$$/io' traced "$@" \
      >"$scratch/io" 2>/dev/null || true
    trace[$name]=$(LC_ALL=C awk -v root="$work" -v skip="$scratch/broken" -v exts="$exts" -v perfile=1 -f bench/syscalls.awk \
      pass=1 "$scratch"/trace/log.* pass=2 "$scratch"/trace/log.*)
    calls[$name]=$(awk '$1 == "syscall" && $2 ~ /^(fsync|fdatasync|syncfs|sync|fallocate|copy_file_range)$/ {printf "%s=%s ", $2, $3}' <<<"${trace[$name]}")
    rm -rf "$scratch/trace"
  else
    bash -c '"$@" >/dev/null 2>&1; sed -n "s/^write_bytes: //p" /proc/$$/io' traced "$@" >"$scratch/io" || true
  fi
  written[$name]=$(tail -1 "$scratch/io")
}
exts=mp3
$mixed && exts=$mixed_exts
traced songwright "$songwright" "${sw_args[@]}" "$work"
if $mixed; then traced automatic "$songwright" "$work"; fi
if $have_peer; then traced peer bash -c "$peer_command" peer "$work"; fi
rm -rf "$work"

if [ -z "$fs" ] && ! $mixed; then
  # The scan reads only: one untimed pass each warms the same caches for both.
  "$scan_only" "$tree" >/dev/null
  find "$tree" -iname '*.mp3' >/dev/null
  for ((run = 1; run <= runs; ++run)); do
    measure scan "$scan_only" "$tree"
    scan_found=$(cat "$last_out")
    measure find find "$tree" -iname '*.mp3'
    find_found=$(grep -c . "$last_out" || true)
  done
  [ "${scan_found:-0}" = "$find_found" ] ||
    fail "the scan found ${scan_found:-0} files where find found $find_found"
  # The whole program over the tree: its memory at that many files.
  measure tree "$songwright" --codepage 1251 "$tree"
  [ "${status[tree]}" -le 1 ] || fail "songwright exited with ${status[tree]} on the scan tree"
fi

# --- Report -------------------------------------------------------------------

load_after=$(cut -d' ' -f1 /proc/loadavg)

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
memory=$(awk '/MemTotal/ {printf "%.0f GB", $2 / 1048576}' /proc/meminfo)
taglib=$(pkg-config --modversion taglib 2>/dev/null || echo "?")
mutagen=$(dpkg-query -W -f='${Version}' python3-mutagen 2>/dev/null || echo "not installed")
library_mb=$(du -sm "$library" | cut -f1)

say ""
say "Machine: $cpu, $(nproc) cores, $memory, Linux $(uname -r); $dir on $fstype, state in $state on $state_fstype"
[ -z "$fs" ] || say "File system: $fs_label"
say "Versions: songwright $(git rev-parse --short HEAD 2>/dev/null || echo "?")$(git diff --quiet HEAD -- engine cli 2>/dev/null || echo "+local changes"), TagLib $taglib, mutagen $mutagen"
say "Load average: $load_before before, $load_after after$(awk -v a="$load_before" -v b="$load_after" -v n="$(nproc)" 'BEGIN{if (a > 0.5 || b > n + 0.5) print " (the machine was busy: figures unreliable)"}')"
say "Library: $files songs, $library_mb MB, profile $profile, seed $seed$([ -n "$fs" ] || $mixed || echo "; scan tree: $scan_entries entries")"
sed -n "$($mixed && echo 1 || echo 2),\$p" "$info" 2>/dev/null || true
say ""
printf '%-34s %9s %9s %9s %10s %9s %12s\n' "" "median s" "min s" "max s" "files/s" "CPU s" \
  "peak RSS MB"
row() {
  local label=$1 name=$2 count=$3
  local m
  [ -n "${times[$name]:-}" ] || return 0
  m=$(median <<<"${times[$name]}")
  printf '%-34s %9.3f %9.3f %9.3f %10.0f %9.2f %12.1f\n' "$label" "$m" \
    "$(minimum <<<"${times[$name]}")" "$(maximum <<<"${times[$name]}")" \
    "$(awk -v n="$count" -v t="$m" 'BEGIN{print (t > 0 ? n / t : 0)}')" \
    "$(median <<<"${cpu[$name]}")" \
    "$(awk -v k="$(maximum <<<"${rss[$name]}")" 'BEGIN{print k / 1024}')"
}
row "songwright --codepage 1251" songwright "$files"
row "  the same again (nothing to fix)" again "$files"
row "songwright, automatic mode" automatic "$files"
if $have_peer; then row "mid3iconv (find | xargs)" peer "$files"; fi
row "floor ($floor_rewrite)" floor "$files"
row "  the same, fsync per written file" durable "$files"
row "scan alone (${scan_found:-0} MP3 files)" scan "${scan_found:-0}"
row "find -iname '*.mp3'" find "${scan_found:-0}"
row "songwright over the tree (1 run)" tree "${scan_found:-0}"
say ""
say "Each run, seconds:"
for name in songwright again automatic peer floor durable scan find; do
  if [ -n "${times[$name]:-}" ]; then printf '  %-11s %s\n' "$name" "${times[$name]}"; fi
done
say ""
say "Outcomes: songwright: $fixed_count fixed, $failed_count failed (\"$fixed\"); again: $again_fixed fixed$($mixed && echo "; automatic mode: $automatic_fixed fixed")"
say "          $floor_summary"
if $have_peer; then say "          mid3iconv: $peer_errors lines on stderr"; fi

# ratio A B [DIGITS]: the ratio of the medians, to two decimals (or DIGITS).
ratio() { awk -v a="$(median <<<"${times[$1]}")" -v b="$(median <<<"${times[$2]}")" -v d="${3:-2}" 'BEGIN{printf "%.*f", d, a / b}'; }
fastest() { awk -v a="$(minimum <<<"${times[$1]}")" -v b="$(minimum <<<"${times[$2]}")" 'BEGIN{printf "%.2f", a / b}'; }
verdict() {
  if $smoke; then
    echo "not judged in a smoke run"
    return
  fi
  awk -v r="$1" -v t="$2" 'BEGIN{print (r <= t ? "met" : sprintf("missed by %.2fx", r / t))}'
}
# compare LABEL A B TARGET: the ratio of medians, of the fastest runs, and the verdict.
compare() {
  local r
  [ -n "${times[$2]:-}" ] && [ -n "${times[$3]:-}" ] || return 0
  r=$(ratio "$2" "$3")
  # Judged on the ratio unrounded: 0.6035 misses a target of 0.6.
  printf '  %-32s %7s %8s   %s\n' "$1" "$r" "$(fastest "$2" "$3")" \
    "${4:+target <= $4: $(verdict "$(ratio "$2" "$3" 6)" "$4")}"
}
say ""
say "Ratios from this run (lower is better): of the medians, of the fastest runs"
# On a real disk both tools pay the disk; on tmpfs songwright alone still
# flushes its journal to the state folder's disk.
peer_target=0.333
$on_disk && peer_target=0.25
# On a file system of its own, that file system's target: where no room
# can be opened before a tag, each grown tag costs a copy and a rename.
case $fs in
  ext4 | xfs) peer_target=0.25 ;;
  btrfs) peer_target=0.35 ;;
  exfat | tmpfs) peer_target=0.6 ;;
esac
if $have_peer; then compare "songwright / peer" songwright peer "$peer_target"; fi
compare "songwright / floor" songwright floor 1.5
compare "automatic / floor of 1251" automatic floor
compare "songwright / floor with fsync" songwright durable
compare "scan / find" scan find 1.25
# per_file NAME LABEL: the opens and reads of the traced run of NAME, per
# repaired file and per file that needs nothing, and where its time in system
# calls went; sets sw_* for songwright's verdicts and the table of --fs all.
per_file() {
  local name=$1 label=$2 f fo fom ff fr frm o oo oom of orr orm broken lo lf lr dop oa oaf ra needs
  read -r f fo fom ff fr frm <<<"$(grep '^fixed=' <<<"${trace[$name]}" | tr ' ' '\n' | cut -d= -f2 | tr '\n' ' ')"
  read -r o oo oom of orr orm broken <<<"$(grep '^other=' <<<"${trace[$name]}" | tr ' ' '\n' | cut -d= -f2 | tr '\n' ' ')"
  read -r lo lf lr dop oa oaf ra <<<"$(grep '^lib_opens=' <<<"${trace[$name]}" | tr ' ' '\n' | cut -d= -f2 | tr '\n' ' ')"
  needs=$((mp3_count - f - broken))
  per() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", (b > 0 ? a / b : 0)}'; }
  say "  $label, traced run: $f files written (of $mp3_count $kind files; $broken that cannot be repaired set apart)"
  say "    per repaired file: $(per "$fo" "$f") opens (max $fom), $ff of them failed; $(per "$fr" "$f") reads (max $frm)"
  say "    per file that needs nothing ($needs): $(per "$oo" "$needs") opens (max $oom), $of failed; $(per "$orr" "$needs") reads (max $orm)"
  say "    the run: $oa opens ($oaf failed), $ra reads; in the library: $lo opens of files ($lf failed, $((lf - ff - of)) of them of other names beside the songs), $dop of folders, $lr reads; per $kind file $(per "$lo" "$mp3_count") opens, $(per "$lr" "$mp3_count") reads"
  say "    time in system calls (strace -T, all threads added up, waits left out): $(grep '^syscall ' <<<"${trace[$name]}" |
    grep -Ev '^syscall (futex|wait4|waitid|nanosleep|clock_nanosleep|poll|ppoll|select|pselect6|epoll_p?wait|rt_sigsuspend) ' |
    sort -k5,5gr | head -7 |
    awk '{printf "%s%s %.3f s (%d%s)", (NR > 1 ? ", " : ""), $2, $5, $3, ($4 ? ", " $4 " failed" : "")}')"
  if [ "$name" = songwright ]; then
    sw_fixed_opens=$(per "$fo" "$f"); sw_fixed_opens_max=$fom; sw_fixed_reads=$(per "$fr" "$f"); sw_fixed_reads_max=$frm
    sw_other_opens=$(per "$oo" "$needs"); sw_other_opens_max=$oom; sw_other_reads=$(per "$orr" "$needs"); sw_other_reads_max=$orm
    sw_failed_opens=$lf
  fi
}
flushes() { tr ' ' '\n' | awk -F= '$1 ~ /^(fsync|fdatasync|syncfs|sync)$/ {n += $2} END {print n + 0}'; }
if $have_strace; then
  flush_count=$(flushes <<<"${calls[songwright]:-}")
  flush_target=$(awk -v n="$fixed_count" 'BEGIN{printf "%.1f", n / 100 + 10}')
  say "  flushes per run, songwright: $flush_count (${calls[songwright]:-none}), target <= $flush_target: $(verdict "$flush_count" "$flush_target")"
  if $have_peer; then say "  flushes per run, mid3iconv: $(flushes <<<"${calls[peer]:-}") (${calls[peer]:-none})"; fi
  if $mixed; then say "  flushes per run, automatic mode: $(flushes <<<"${calls[automatic]:-}") (${calls[automatic]:-none}), repaired $automatic_fixed"; fi
fi
if [ -n "${written[songwright]:-}" ]; then
  say "  bytes written, songwright: ${written[songwright]} ($(awk -v w="${written[songwright]}" -v n="$fixed_count" 'BEGIN{printf "%.0f", n ? w / n : 0}') per repaired file)"
  if $have_peer; then say "  bytes written, mid3iconv: ${written[peer]:-?}"; fi
fi
if $have_strace; then
  kind=MP3
  mp3_count=$(find "$library" -iname '*.mp3' -printf . | wc -c)
  if $mixed; then
    kind=music
    mp3_count=$(find "$library" -type f -regextype posix-extended -iregex ".*\.($exts)" -printf . | wc -c)
  fi
  for name in songwright automatic peer; do
    [ -n "${trace[$name]:-}" ] || continue
    per_file "$name" "$(case $name in peer) echo mid3iconv ;; automatic) echo "songwright, automatic mode" ;; *) echo songwright ;; esac)"
    if $mixed; then mixed_formats "$name"; fi
  done
  if [ -n "${sw_fixed_opens_max:-}" ]; then
    say "  targets: songwright at most 2 opens per repaired file: $(verdict "$sw_fixed_opens_max" 2); at most 4 reads: $(
      verdict "$sw_fixed_reads_max" 4); 1 open per file that needs nothing: $(verdict "$sw_other_opens_max" 1) (of the most in one file)"
  fi
fi
if [ -n "${SONGWRIGHT_BENCH_ROW:-}" ]; then
  route="insert range"
  [[ "${calls[songwright]:-}" == *copy_file_range* ]] && route="copy ($(tr ' ' '\n' <<<"${calls[songwright]}" | sed -n 's/^copy_file_range=//p') copy_file_range)"
  printf '%s\t%.3f\t%.3f\t%.3f\t%s\t%s\t%s\t%s (%s)\t%s (%s)\t%s (%s)\t%s (%s)\t%s (%s)\t%s\t%s\n' "$fs" \
    "$(median <<<"${times[songwright]}")" "$(median <<<"${times[peer]:-0}")" \
    "$(median <<<"${times[floor]}")" "$( $have_peer && ratio songwright peer || echo -)" "$(ratio songwright floor)" \
    "$fixed_count" "${flush_count:-?}" "${flush_target:-?}" "${sw_fixed_opens:-?}" "${sw_fixed_opens_max:-?}" \
    "${sw_fixed_reads:-?}" "${sw_fixed_reads_max:-?}" "${sw_other_opens:-?}" "${sw_other_opens_max:-?}" \
    "${sw_other_reads:-?}" "${sw_other_reads_max:-?}" "${sw_failed_opens:-?}" "$route" >>"$SONGWRIGHT_BENCH_ROW"
fi
tree_rss=$(awk -v k="$(maximum <<<"${rss[tree]:-0}")" 'BEGIN{printf "%.1f", k / 1024}')
if $have_time && [ -n "${times[tree]:-}" ]; then
  say "  peak RSS over ${scan_found:-0} files: $tree_rss MB, target < 50 MB: $(verdict "$tree_rss" 49.999)"
fi

floor_fixed=$(sed -n 's/.*: \([0-9]*\) rewritten whole, \([0-9]*\) tags in place.*/\1 \2/p' <<<"$floor_summary" |
  awk '{print $1 + $2}')
if [ -n "$floor_fixed" ] && [ "$floor_fixed" != "$fixed_count" ]; then
  say "Note: the floor rewrote $floor_fixed files where songwright fixed $fixed_count."
fi

if $have_micro && $micro; then
  say ""
  say "Microbenchmarks:"
  if $smoke; then
    "$build/bench/micro" --benchmark_min_time=0.01 2>&1 | grep '^BM_'
  else
    "$build/bench/micro" 2>&1 | sed -n '/^Benchmark/,$p'
  fi
fi

say ""
if $smoke; then
  say "Smoke run done: every step worked; the figures above mean nothing."
else
  repeat="bash bench/run.sh --files $files --profile $profile --runs $runs --seed $seed"
  $mixed && repeat+=" --library mixed"
  if [ -n "$fs" ]; then repeat+=" --fs $fs"; elif [ "$dir" != /dev/shm/songwright-bench ]; then repeat+=" --dir $dir"; fi
  [ "$scan_entries" = 100000 ] || repeat+=" --scan-entries $scan_entries"
  [ "$floor_rewrite" = shift ] || repeat+=" --floor-rewrite $floor_rewrite"
  $micro || repeat+=" --no-micro"
  say "Reproduce: $repeat"
fi
