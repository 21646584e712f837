#!/usr/bin/env bash
# Measures the automatic mode on the shapes library: generates it in a
# temporary folder, checks it, takes checksums, runs a preview with --json
# (every line must be a JSON object, and nothing may be written), runs the
# repair, and scores the result against the manifest. Then the same over
# copies of the real-world files rewritten into the shapes.
#
#   bash bench/shapes/run.sh [--albums N] [--seed N] [--binary PATH]
#                            [--realworld DIR|none] [--show N] [--keep]
#
# Default binary: build/songwright; real-world files: $SONGWRIGHT_REALWORLD,
# else ../shared/realworld beside the repository (skipped when missing).
# Each songwright run gets a HOME and XDG_STATE_HOME of its own. Exits 1
# when a step found a fault (a bad JSON line, a preview that wrote, a run
# that crashed or did not finish); poor figures are figures, not faults.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
albums=200 seed=1 binary=$root/build/songwright show=0 keep=0
realworld=${SONGWRIGHT_REALWORLD:-$root/../shared/realworld}

usage() { sed -n '7,8p' "$0" | sed 's/^# *//' >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --albums) albums=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --binary) binary=$2; shift 2 ;;
    --realworld) realworld=$2; shift 2 ;;
    --show) show=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) usage ;;
  esac
done

if ! /usr/bin/python3 -c 'import mutagen' 2>/dev/null; then
  if [ "$(id -u)" = 0 ]; then
    apt-get install -y -qq python3-mutagen >/dev/null
  else
    echo "run.sh: python3-mutagen is needed (apt-get install -y python3-mutagen)" >&2
    exit 2
  fi
fi
[ -x "$binary" ] || { echo "run.sh: no program at $binary (build it, or give --binary)" >&2; exit 2; }
binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")

tmp=$(mktemp -d "${TMPDIR:-/tmp}/songwright-shapes.XXXXXX")
if [ $keep = 1 ]; then
  trap 'echo "Kept $tmp"' EXIT
else
  trap 'rm -rf "$tmp"' EXIT
fi
faults=0
fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

# songwright NAME ARGS...: one run with its own HOME and state folder.
songwright() {
  local name=$1; shift
  mkdir -p "$tmp/$name.home" "$tmp/$name.state"
  HOME=$tmp/$name.home XDG_STATE_HOME=$tmp/$name.state timeout 600 "$binary" "$@"
}

# measure NAME DIR: preview, repair and score one library.
measure() {
  local name=$1 dir=$2 status=0
  "$here/make-library.py" --check "$dir" > "$tmp/$name.check.txt" || fault "$name: the library does not match its manifest (see below)"
  tail -n 5 "$tmp/$name.check.txt"
  "$here/snapshot.py" "$dir" > "$tmp/$name.before.json"

  songwright "$name" --codepage auto --json -n "$dir" > "$tmp/$name.preview.jsonl" 2> "$tmp/$name.preview.err" || status=$?
  [ $status -le 1 ] || fault "$name: the preview exited with status $status"
  "$here/score.py" --json-check "$tmp/$name.preview.jsonl" | tail -n 4 || fault "$name: the preview's --json output has lines that are not JSON objects"
  "$here/snapshot.py" "$dir" > "$tmp/$name.after-preview.json"
  cmp -s "$tmp/$name.before.json" "$tmp/$name.after-preview.json" || fault "$name: the preview changed files"

  status=0
  songwright "$name" --codepage auto "$dir" > "$tmp/$name.run.txt" 2> "$tmp/$name.run.err" || status=$?
  [ $status -le 1 ] || fault "$name: the run exited with status $status"
  echo "Run: $(tail -n 1 "$tmp/$name.run.txt") (exit status $status); albums left for want of a sure page: $(grep -c 'left as it is' "$tmp/$name.run.err" || true)"
  "$here/score.py" "$dir" --before "$tmp/$name.before.json" --json --show 50 > "$tmp/$name.score.json"
  "$here/score.py" "$dir" --before "$tmp/$name.before.json" --show "$show"
}

echo "songwright: $binary ($(songwright version --version 2>/dev/null | head -n 1)), $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')"
echo
echo "== Generated library: $albums albums, seed $seed"
"$here/make-library.py" "$tmp/generated" --seed "$seed" --albums "$albums"
measure generated "$tmp/generated"

if [ "$realworld" != none ] && [ -d "$realworld" ]; then
  realworld=$(cd "$realworld" && pwd -P)
  echo
  echo "== Real-world files rewritten into the shapes: $realworld, seed $seed"
  "$here/inject-realworld.py" "$realworld" "$tmp/realworld" --seed "$seed"
  measure realworld "$tmp/realworld"
else
  echo
  echo "== No real-world files at $realworld: skipped"
fi

if [ $faults -gt 0 ]; then
  echo
  echo "$faults fault(s) found; see the FAULT lines above"
  exit 1
fi
