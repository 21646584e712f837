#!/usr/bin/env bash
# Measures --rename on a generated names library: generates it in a
# temporary folder, takes a snapshot, runs `songwright --rename --json`,
# scores names, playlists, lost files, audio and reported collisions
# against the manifest, then runs --undo and checks that every name and
# byte is back.
#
#   bash bench/names/run.sh [--seed N]... [--binary PATH] [--threshold PCT]
#                           [--show] [--keep]
#
# Several --seed give one library each (default: seed 1). A binary named
# .exe runs under Wine (source scripts/wine-env.sh first) on a library made
# with --widen. Each run gets a
# HOME and XDG_STATE_HOME of its own. Exits 1 when a seed falls below the
# threshold (with --threshold), loses or changes a file, leaves a collision
# unreported, or its undo leaves a name or byte different.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
binary=$root/build/songwright threshold="" show=0 keep=0 seeds=()
while [ $# -gt 0 ]; do
  case $1 in
    --seed) seeds+=("$2"); shift 2 ;;
    --binary) binary=$2; shift 2 ;;
    --threshold) threshold=$2; shift 2 ;;
    --show) show=1; shift ;;
    --keep) keep=1; shift ;;
    *) sed -n '8,9p' "$0" | sed 's/^# *//' >&2; exit 2 ;;
  esac
done
[ ${#seeds[@]} -gt 0 ] || seeds=(1)
[ -x "$binary" ] || { echo "run.sh: no program at $binary (build it, or give --binary)" >&2; exit 2; }
binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")
# A Windows build runs under Wine (set up by scripts/wine-env.sh), on names
# as Windows shows legacy bytes.
run=("$binary") widen=()
case $binary in *.exe) run=(wine "$binary") widen=(--widen) ;; esac
py=python3
tmp=$(mktemp -d "${TMPDIR:-/tmp}/songwright-names.XXXXXX")
if [ $keep = 1 ]; then trap 'echo "Kept $tmp"' EXIT; else trap 'rm -rf "$tmp"' EXIT; fi
faults=0
fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

for seed in "${seeds[@]}"; do
  dir=$tmp/seed$seed
  mkdir -p "$dir/home" "$dir/state"
  echo "== seed $seed: $($py "$here/make-library.py" "${widen[@]}" --seed "$seed" "$dir/lib")"
  $py "$here/score.py" snapshot "$dir/lib" > "$dir/before.json"
  status=0
  (cd "$dir" && HOME=$dir/home XDG_STATE_HOME=$dir/state timeout 600 "${run[@]}" --rename --json lib \
      > "$dir/run.jsonl" 2> "$dir/run.err") || status=$?
  [ $status -le 1 ] || fault "seed $seed: the run exited with status $status: $(head -c 300 "$dir/run.err")"
  args=(score "$dir/names-manifest.json" "$dir/lib" "$dir/before.json" "$dir/run.jsonl")
  [ -z "$threshold" ] || args+=(--threshold "$threshold")
  SHOW_WRONG=$show $py "$here/score.py" "${args[@]}" > "$dir/score.txt" || \
    fault "seed $seed: below the threshold, or a file lost, changed or left unreported"
  grep -av '^{' "$dir/score.txt"
  status=0
  (cd "$dir" && HOME=$dir/home XDG_STATE_HOME=$dir/state timeout 600 "${run[@]}" --undo \
      > "$dir/undo.txt" 2> "$dir/undo.err") || status=$?
  [ $status -le 1 ] || fault "seed $seed: the undo exited with status $status: $(head -c 300 "$dir/undo.err")"
  $py "$here/score.py" snapshot "$dir/lib" > "$dir/after-undo.json"
  $py "$here/score.py" same "$dir/before.json" "$dir/after-undo.json" || \
    fault "seed $seed: after --undo, names or bytes differ from before the run"
done
[ $faults = 0 ] || { echo "$faults faults"; exit 1; }
