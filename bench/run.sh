#!/usr/bin/env bash
# Times songwright against mid3iconv and the I/O floor on a generated
# library, and the scan against find on a tree of empty files. Every timed
# run of a tool that writes gets a fresh copy of the library (the copy is not
# timed). Prints medians, peak RSS, the ratios and the command to repeat them.
#
#   bash bench/run.sh [--files N] [--profile small|real] [--runs R] [--seed S]
#                     [--dir DIR] [--state DIR] [--scan-entries E] [--build DIR]
#                     [--floor-rewrite shift|copy] [--no-micro] [--clean]
#   bash bench/run.sh --smoke
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

usage() {
  sed -n '2,11s/^# \{0,1\}//p' "$0" >&2
  cat >&2 <<'EOF'

  --files N           songs in the library (default 2000)
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
EOF
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --files) files=${2:?}; shift ;;
    --profile) profile=${2:?}; shift ;;
    --runs) runs=${2:?}; shift ;;
    --seed) seed=${2:?}; shift ;;
    --dir) dir=${2:?}; given_dir=true; shift ;;
    --state) state=${2:?}; shift ;;
    --scan-entries) scan_entries=${2:?}; shift ;;
    --build) build=${2:?}; shift ;;
    --floor-rewrite) floor_rewrite=${2:?}; shift ;;
    --no-micro) micro=false ;;
    --clean) clean=true ;;
    --smoke) smoke=true ;;
    *) usage ;;
  esac
  shift
done
[[ $files =~ ^[0-9]+$ && $runs =~ ^[0-9]+$ && $seed =~ ^[0-9]+$ && $scan_entries =~ ^[0-9]+$ ]] ||
  usage
[ "$profile" = small ] || [ "$profile" = real ] || usage
[ "$floor_rewrite" = shift ] || [ "$floor_rewrite" = copy ] || usage

if $smoke; then
  files=20
  runs=1
  scan_entries=2000
  $given_dir || dir=$(mktemp -d "${TMPDIR:-/tmp}/songwright-smoke.XXXXXX")
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

# A full run installs what it needs; the smoke run makes do without.
if ! $smoke; then
  missing=()
  [ -x /usr/bin/time ] || missing+=(time)
  command -v mid3iconv >/dev/null || missing+=(python3-mutagen)
  [ "$(dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null)" = "install ok installed" ] ||
    missing+=(libbenchmark-dev)
  if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    say "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
fi

if [ ! -f "$build/build.ninja" ]; then
  bash scripts/build-linux.sh "$build"
fi
cmake -S . -B "$build" >/dev/null
ninja -C "$build" songwright songwright_bench_generate songwright_bench_floor \
  songwright_bench_scan_only >/dev/null
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

have_time=false
[ -x /usr/bin/time ] && have_time=true
have_peer=false
if command -v mid3iconv >/dev/null; then
  have_peer=true
elif $smoke; then
  say "Skipping the peer: mid3iconv is not installed (apt-get install python3-mutagen)."
else
  fail "mid3iconv is missing"
fi

# --- Places -------------------------------------------------------------------

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
library=$dir/library
work=$dir/work
tree=$dir/scan-tree
scratch=$(mktemp -d "$dir/scratch.XXXXXX")
cleanup() {
  rm -rf "$scratch" "$work"
  if [ -n "$state" ]; then
    rm -rf "$state/songwright"
    rmdir "$state" 2>/dev/null || true
  fi
  if $clean; then
    rm -rf "$library" "$library.stamp" "$dir/library.txt" "$tree" "$tree.stamp" "$dir/scan-tree.txt"
    rmdir "$dir" 2>/dev/null || true
  fi
}
trap cleanup EXIT

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
per_song=$([ "$profile" = real ] && echo 5600000 || echo 1100000)
need=$((files * per_song * 2 + 64 * 1024 * 1024))
have=$(df --output=avail -B1 "$dir" | tail -1)
[ -d "$library" ] && need=$((need / 2))
[ "$have" -ge "$need" ] ||
  fail "$dir has $((have / 1000000)) MB free, the library and a copy need about $((need / 1000000)) MB"

# The library is kept between runs of the script when its parameters match.
stamp="files=$files profile=$profile seed=$seed generator=$(md5sum <"$generate" | cut -c1-12)"
if [ ! -f "$library.stamp" ] || [ "$(cat "$library.stamp")" != "$stamp" ]; then
  rm -rf "$library" "$library.stamp"
  started=$EPOCHREALTIME
  "$generate" --files "$files" --profile "$profile" --seed "$seed" "$library" >"$dir/library.txt"
  say "Generated the library in $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.1f", b-a}') s."
  echo "$stamp" >"$library.stamp"
fi
tree_stamp="entries=$scan_entries seed=$seed generator=$(md5sum <"$generate" | cut -c1-12)"
if [ ! -f "$tree.stamp" ] || [ "$(cat "$tree.stamp")" != "$tree_stamp" ]; then
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
  if $on_disk && [ -d "$work" ]; then sync -f "$work" 2>/dev/null || sync; fi
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
  cp -a "$library" "$work"
  if $on_disk || $state_disk; then sync; fi
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

# Other work on the machine blurs every figure: say so beside them.
load_before=$(cut -d' ' -f1 /proc/loadavg)

say "Timing $runs runs of: ${library_tools[*]} on $files songs ($profile), then the scan."
for ((run = 1; run <= runs; ++run)); do
  # Each run starts with another tool, so none always runs first.
  count=${#library_tools[@]}
  for ((k = 0; k < count; ++k)); do
    tool=${library_tools[$(((run - 1 + k) % count))]}
    fresh_copy
    case $tool in
      songwright)
        measure songwright "$songwright" --codepage 1251 "$work"
        [ "${status[songwright]}" -le 1 ] || fail "songwright exited with ${status[songwright]}: $(cat "$last_err")"
        fixed=$(tail -1 "$last_out")
        fixed_count=$(grep -c '^fixed' "$last_out" || true)
        failed_count=$(grep -c '^failed' "$last_out" || true)
        # Again over the repaired copy: reading and deciding alone.
        measure again "$songwright" --codepage 1251 "$work"
        again_fixed=$(grep -c '^fixed' "$last_out" || true)
        ;;
      peer)
        measure peer bash -c "$peer_command" peer "$work"
        peer_errors=$(grep -c . "$last_err" || true)
        ;;
      floor)
        measure floor "$floor" --rewrite "$floor_rewrite" "$work"
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
# One more run of each, untimed and traced: the flushes it asks for (fsync,
# fdatasync, syncfs, sync), the audio it moves (copy_file_range) or the room
# it opens (fallocate), and the bytes it sends to storage (write_bytes of
# /proc/<pid>/io, which takes in the children waited for).
declare -A calls written
have_strace=false
command -v strace >/dev/null && have_strace=true
traced() {
  local name=$1
  shift
  fresh_copy
  if $have_strace; then
    strace -f -c -o "$scratch/strace" -e trace=fsync,fdatasync,syncfs,sync,fallocate,copy_file_range \
      bash -c '"$@" >/dev/null 2>&1; sed -n "s/^write_bytes: //p" /proc/$$/io' traced "$@" \
      >"$scratch/io" 2>/dev/null || true
    calls[$name]=$(awk '$NF ~ /^(fsync|fdatasync|syncfs|sync|fallocate|copy_file_range)$/ {printf "%s=%s ", $NF, $4}' "$scratch/strace")
  else
    bash -c '"$@" >/dev/null 2>&1; sed -n "s/^write_bytes: //p" /proc/$$/io' traced "$@" >"$scratch/io" || true
  fi
  written[$name]=$(tail -1 "$scratch/io")
}
traced songwright "$songwright" --codepage 1251 "$work"
if $have_peer; then traced peer bash -c "$peer_command" peer "$work"; fi
rm -rf "$work"

# The scan reads only: one untimed pass each warms the same caches for both.
"$scan_only" "$tree" >/dev/null
find "$tree" -iname '*.mp3' >/dev/null
for ((run = 1; run <= runs; ++run)); do
  measure scan "$scan_only" "$tree"
  scan_found=$(cat "$last_out")
  measure find find "$tree" -iname '*.mp3'
  find_found=$(grep -c . "$last_out" || true)
done
[ "$scan_found" = "$find_found" ] ||
  fail "the scan found $scan_found files where find found $find_found"
# The whole program over the tree: its memory at that many files.
measure tree "$songwright" --codepage 1251 "$tree"
[ "${status[tree]}" -le 1 ] || fail "songwright exited with ${status[tree]} on the scan tree"

# --- Report -------------------------------------------------------------------

load_after=$(cut -d' ' -f1 /proc/loadavg)

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
memory=$(awk '/MemTotal/ {printf "%.0f GB", $2 / 1048576}' /proc/meminfo)
taglib=$(pkg-config --modversion taglib 2>/dev/null || echo "?")
mutagen=$(dpkg-query -W -f='${Version}' python3-mutagen 2>/dev/null || echo "not installed")
library_mb=$(du -sm "$library" | cut -f1)

say ""
say "Machine: $cpu, $(nproc) cores, $memory, Linux $(uname -r); $dir on $fstype, state in $state on $state_fstype"
say "Versions: songwright $(git rev-parse --short HEAD 2>/dev/null || echo "?")$(git diff --quiet HEAD -- engine cli 2>/dev/null || echo "+local changes"), TagLib $taglib, mutagen $mutagen"
say "Load average: $load_before before, $load_after after$(awk -v a="$load_before" -v b="$load_after" -v n="$(nproc)" 'BEGIN{if (a > 0.5 || b > n + 0.5) print " (the machine was busy: figures unreliable)"}')"
say "Library: $files songs, $library_mb MB, profile $profile, seed $seed; scan tree: $scan_entries entries"
sed -n '2,$p' "$dir/library.txt" 2>/dev/null || true
say ""
printf '%-34s %9s %9s %9s %10s %9s %12s\n' "" "median s" "min s" "max s" "files/s" "CPU s" \
  "peak RSS MB"
row() {
  local label=$1 name=$2 count=$3
  local m
  m=$(median <<<"${times[$name]}")
  printf '%-34s %9.3f %9.3f %9.3f %10.0f %9.2f %12.1f\n' "$label" "$m" \
    "$(minimum <<<"${times[$name]}")" "$(maximum <<<"${times[$name]}")" \
    "$(awk -v n="$count" -v t="$m" 'BEGIN{print (t > 0 ? n / t : 0)}')" \
    "$(median <<<"${cpu[$name]}")" \
    "$(awk -v k="$(maximum <<<"${rss[$name]}")" 'BEGIN{print k / 1024}')"
}
row "songwright --codepage 1251" songwright "$files"
row "  the same again (nothing to fix)" again "$files"
if $have_peer; then row "mid3iconv (find | xargs)" peer "$files"; fi
row "floor ($floor_rewrite)" floor "$files"
row "  the same, fsync per written file" durable "$files"
row "scan alone ($scan_found MP3 files)" scan "$scan_found"
row "find -iname '*.mp3'" find "$scan_found"
row "songwright over the tree (1 run)" tree "$scan_found"
say ""
say "Each run, seconds:"
for name in songwright again peer floor durable scan find; do
  if [ -n "${times[$name]:-}" ]; then printf '  %-11s %s\n' "$name" "${times[$name]}"; fi
done
say ""
say "Outcomes: songwright: $fixed_count fixed, $failed_count failed (\"$fixed\"); again: $again_fixed fixed"
say "          $floor_summary"
if $have_peer; then say "          mid3iconv: $peer_errors lines on stderr"; fi

ratio() { awk -v a="$(median <<<"${times[$1]}")" -v b="$(median <<<"${times[$2]}")" 'BEGIN{printf "%.2f", a / b}'; }
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
  r=$(ratio "$2" "$3")
  printf '  %-32s %7s %8s   %s\n' "$1" "$r" "$(fastest "$2" "$3")" \
    "${4:+target <= $4: $(verdict "$r" "$4")}"
}
say ""
say "Ratios from this run (lower is better): of the medians, of the fastest runs"
# On a real disk both tools pay the disk; on tmpfs songwright alone still
# flushes its journal to the state folder's disk.
peer_target=0.333
$on_disk && peer_target=0.25
if $have_peer; then compare "songwright / peer" songwright peer "$peer_target"; fi
compare "songwright / floor" songwright floor 1.5
compare "songwright / floor with fsync" songwright durable
compare "scan / find" scan find 1.25
flushes() { tr ' ' '\n' | awk -F= '$1 ~ /^(fsync|fdatasync|syncfs|sync)$/ {n += $2} END {print n + 0}'; }
if $have_strace; then
  flush_count=$(flushes <<<"${calls[songwright]:-}")
  flush_target=$(awk -v n="$fixed_count" 'BEGIN{printf "%.1f", n / 100 + 10}')
  say "  flushes per run, songwright: $flush_count (${calls[songwright]:-none}), target <= $flush_target: $(verdict "$flush_count" "$flush_target")"
  if $have_peer; then say "  flushes per run, mid3iconv: $(flushes <<<"${calls[peer]:-}") (${calls[peer]:-none})"; fi
fi
if [ -n "${written[songwright]:-}" ]; then
  say "  bytes written, songwright: ${written[songwright]} ($(awk -v w="${written[songwright]}" -v n="$fixed_count" 'BEGIN{printf "%.0f", n ? w / n : 0}') per repaired file)"
  if $have_peer; then say "  bytes written, mid3iconv: ${written[peer]:-?}"; fi
fi
tree_rss=$(awk -v k="$(maximum <<<"${rss[tree]}")" 'BEGIN{printf "%.1f", k / 1024}')
if $have_time; then
  say "  peak RSS over $scan_found files: $tree_rss MB, target < 50 MB: $(verdict "$tree_rss" 49.999)"
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
  [ "$dir" = /dev/shm/songwright-bench ] || repeat+=" --dir $dir"
  [ "$scan_entries" = 100000 ] || repeat+=" --scan-entries $scan_entries"
  [ "$floor_rewrite" = shift ] || repeat+=" --floor-rewrite $floor_rewrite"
  $micro || repeat+=" --no-micro"
  say "Reproduce: $repeat"
fi
