#!/usr/bin/env bash
# Measures the automatic mode on a mixed-format library: generates it in a
# temporary folder, checks it, takes checksums, runs a preview with --json
# (every line must be a JSON object, and nothing may be written), runs the
# repair with no option, scores the result per format against the manifest,
# then undoes the run and checks that every byte is back. Then the same over
# copies of the real-world files with mojibake injected.
#
#   bash bench/formats/run.sh [--albums N] [--seed N] [--binary PATH]
#                             [--realworld DIR|none] [--show N] [--keep]
#
# Default binary: build/songwright; real-world files:
# $SONGWRIGHT_REALWORLD_FORMATS, else ../shared/realworld-formats beside the
# repository (skipped when missing). Each songwright run gets a HOME and
# XDG_STATE_HOME of its own (the undo shares its run's). Exits 1 when a step
# found a fault (a bad JSON line, a preview that wrote, a run that crashed,
# an undo that left a byte different); poor figures are figures, not faults.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
shapes=$here/../shapes
albums=60 seed=1 binary=$root/build/songwright show=0 keep=0
realworld=${SONGWRIGHT_REALWORLD_FORMATS:-$root/../shared/realworld-formats}

usage() { sed -n '9,10p' "$0" | sed 's/^# *//' >&2; exit 2; }
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
  echo "run.sh: /usr/bin/python3 with mutagen is needed (apt-get install -y python3-mutagen)" >&2
  exit 2
fi
command -v ffmpeg >/dev/null || { echo "run.sh: ffmpeg is needed" >&2; exit 2; }
[ -x "$binary" ] || { echo "run.sh: no program at $binary (build it, or give --binary)" >&2; exit 2; }
binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")

tmp=$(mktemp -d "${TMPDIR:-/tmp}/songwright-formats.XXXXXX")
if [ $keep = 1 ]; then
  trap 'echo "Kept $tmp"' EXIT
else
  trap 'rm -rf "$tmp"' EXIT
fi
faults=0
fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

# songwright NAME ARGS...: a run with the HOME and state folder of NAME.
songwright() {
  local name=$1; shift
  mkdir -p "$tmp/$name.home" "$tmp/$name.state"
  HOME=$tmp/$name.home XDG_STATE_HOME=$tmp/$name.state timeout 600 "$binary" "$@"
}

# measure NAME DIR: preview, repair, score and undo over one library.
measure() {
  local name=$1 dir=$2 status=0
  if [ "$name" = generated ]; then
    "$here/make-library.py" --check "$dir" > "$tmp/$name.check.txt" ||
      fault "$name: the library does not match its manifest (see below)"
    tail -n 5 "$tmp/$name.check.txt"
  fi
  "$shapes/snapshot.py" "$dir" > "$tmp/$name.before.json"

  songwright "$name-preview" --json -n "$dir" > "$tmp/$name.preview.jsonl" 2> "$tmp/$name.preview.err" || status=$?
  [ $status -le 1 ] || fault "$name: the preview exited with status $status"
  "$shapes/score.py" --json-check "$tmp/$name.preview.jsonl" | tail -n 4 ||
    fault "$name: the preview's --json output has lines that are not JSON objects"
  "$shapes/snapshot.py" "$dir" > "$tmp/$name.after-preview.json"
  cmp -s "$tmp/$name.before.json" "$tmp/$name.after-preview.json" || fault "$name: the preview changed files"

  status=0
  songwright "$name" "$dir" > "$tmp/$name.run.txt" 2> "$tmp/$name.run.err" || status=$?
  [ $status -le 1 ] || fault "$name: the run exited with status $status"
  echo "Run: $(tail -n 1 "$tmp/$name.run.txt") (exit status $status); fixed: $(grep -c '^fixed' "$tmp/$name.run.txt" || true), failed: $(grep -c '^failed' "$tmp/$name.run.txt" || true)"
  "$here/score.py" "$dir" "$dir" --before "$tmp/$name.before.json" --show "$show"
  "$shapes/snapshot.py" "$dir" > "$tmp/$name.after-run.json"

  if cmp -s "$tmp/$name.before.json" "$tmp/$name.after-run.json"; then
    echo "Undo: the run wrote nothing, so there is nothing to undo"
    return
  fi
  status=0
  songwright "$name" --undo > "$tmp/$name.undo.txt" 2> "$tmp/$name.undo.err" || status=$?
  [ $status -le 1 ] || fault "$name: the undo exited with status $status: $(head -c 300 "$tmp/$name.undo.err")"
  "$shapes/snapshot.py" "$dir" > "$tmp/$name.after-undo.json"
  if cmp -s "$tmp/$name.before.json" "$tmp/$name.after-undo.json"; then
    echo "Undo: every byte is back ($(tail -n 1 "$tmp/$name.undo.txt"))"
  else
    fault "$name: after --undo, files differ from before the run: $(/usr/bin/python3 -c '
import json, sys
a, b = (json.load(open(p)) for p in sys.argv[1:3])
print(" ".join(sorted(k for k in set(a) | set(b) if a.get(k) != b.get(k)))[:400])' \
      "$tmp/$name.before.json" "$tmp/$name.after-undo.json")"
  fi
}

echo "songwright: $binary ($(songwright version --version 2>/dev/null | head -n 1)), $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')"
echo
echo "== Generated library: $albums albums, seed $seed"
"$here/make-library.py" "$tmp/generated" --seed "$seed" --albums "$albums"
measure generated "$tmp/generated"

if [ "$realworld" != none ] && [ -d "$realworld" ]; then
  realworld=$(cd "$realworld" && pwd -P)
  echo
  echo "== Real-world files with mojibake injected: $realworld, seed $seed"
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
