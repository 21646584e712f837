#!/usr/bin/env bash
# Measures what a SIGKILL at a random moment of a run leaves behind: how many
# files are neither their original nor their complete repair right after the
# kill, and whether the next run finishes every one of them. A measurement,
# not a test: the moments are random on purpose.
#
#   bash bench/kill-window.sh [--files N] [--profile small|real] [--kills K]
#                             [--dir DIR] [--build DIR] [--jobs J] [--seed S]
#
# Prints one line per kill (files found in between, files already repaired)
# and a closing line with the largest count; exits 1 when a file is still in
# between after the next run, or when side files are left.
set -euo pipefail
cd "$(dirname "$0")/.."

files=121
profile=small
kills=20
dir=/var/tmp/songwright-kill-window
build=build
jobs=""
seed=1

while [ $# -gt 0 ]; do
  case $1 in
    --files) files=${2:?}; shift ;;
    --profile) profile=${2:?}; shift ;;
    --kills) kills=${2:?}; shift ;;
    --dir) dir=${2:?}; shift ;;
    --build) build=${2:?}; shift ;;
    --jobs) jobs=${2:?}; shift ;;
    --seed) seed=${2:?}; shift ;;
    *) sed -n '2,13s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
  shift
done

[ -f "$build/build.ninja" ] || bash scripts/build-linux.sh "$build"
ninja -C "$build" songwright songwright_bench_generate >/dev/null
songwright=$PWD/$build/songwright
generate=$PWD/$build/bench/generate

rm -rf "$dir"
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
trap 'rm -rf "$dir"' EXIT
"$generate" --files "$files" --profile "$profile" --seed "$seed" "$dir/original" >/dev/null

run() {  # run STATE LIBRARY: a repair as a user starts it
  XDG_STATE_HOME=$1 "$songwright" --codepage 1251 ${jobs:+--jobs "$jobs"} "$2" >/dev/null 2>&1
}

# The repair every file must end as, and how long a run takes once the
# library is in the page cache (the second of two runs on fresh copies).
for attempt in 1 2; do
  rm -rf "$dir/repaired" "$dir/state-reference"
  cp -a "$dir/original" "$dir/repaired"
  sync
  started=$EPOCHREALTIME
  run "$dir/state-reference" "$dir/repaired" || true
  whole=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.3f", b-a}')
done
echo "A whole run takes ${whole} s over $(find "$dir/original" -type f | wc -l) files."

# Counts the files of $1 that are neither their original nor their repair,
# those repaired, and those that are not (yet) their repair.
classify() {
  local between=0 done=0 short=0 relative
  while IFS= read -r -d '' relative; do
    if cmp -s "$1/$relative" "$dir/repaired/$relative"; then
      if ! cmp -s "$dir/original/$relative" "$dir/repaired/$relative"; then done=$((done + 1)); fi
      continue
    fi
    short=$((short + 1))
    cmp -s "$1/$relative" "$dir/original/$relative" || between=$((between + 1))
  done < <(cd "$dir/original" && find . -type f -print0)
  echo "$between $done $short"
}

worst=0
status=0
for kill in $(seq 1 "$kills"); do
  rm -rf "$dir/work" "$dir/state"
  cp -a "$dir/original" "$dir/work"
  sync
  delay=$(awk -v w="$whole" -v s="$seed$kill" 'BEGIN{srand(s); printf "%.3f", rand() * w}')
  XDG_STATE_HOME=$dir/state "$songwright" --codepage 1251 ${jobs:+--jobs "$jobs"} \
    "$dir/work" >/dev/null 2>&1 &
  pid=$!
  sleep "$delay"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  read -r between done _ < <(classify "$dir/work")
  [ "$between" -gt "$worst" ] && worst=$between
  run "$dir/state" "$dir/work" || true
  read -r _ _ after < <(classify "$dir/work")
  side=$(find "$dir/work" -name '.songwright-*' | wc -l)
  echo "kill $kill at ${delay} s: $between in between, $done repaired; after the next run: $after not repaired, $side side files"
  if [ "$after" -ne 0 ] || [ "$side" -ne 0 ]; then status=1; fi
done
echo "Largest number of files in between right after a kill: $worst (of $kills kills)"
exit $status
