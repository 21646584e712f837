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
kit=formats
albums=60 seed=1 binary=$here/../../build/songwright show=0 keep=0
realworld=${SONGWRIGHT_REALWORLD_FORMATS:-$here/../../../shared/realworld-formats}
usage() { sed -n '9,10p' "$0" | sed 's/^# *//' >&2; exit 2; }
source "$here/../kit.sh"
kit_options "$@"
command -v ffmpeg >/dev/null || { echo "run.sh: ffmpeg is needed" >&2; exit 2; }
kit_setup

# measure NAME DIR: preview, repair, score and undo over one library.
measure() {
  local name=$1 dir=$2 status=0
  if [ "$name" = generated ]; then
    "$here/make-library.py" --check "$dir" > "$tmp/$name.check.txt" ||
      fault "$name: the library does not match its manifest (see below)"
    tail -n 5 "$tmp/$name.check.txt"
  fi
  kit_preview "$name" "$dir"

  status=0
  songwright "$name" "$dir" > "$tmp/$name.run.txt" 2> "$tmp/$name.run.err" || status=$?
  [ $status -le 1 ] || fault "$name: the run exited with status $status"
  echo "Run: $(tail -n 1 "$tmp/$name.run.txt") (exit status $status); fixed: $(grep -c '^fixed' "$tmp/$name.run.txt" || true), failed: $(grep -c '^failed' "$tmp/$name.run.txt" || true)"
  "$here/score.py" "$dir" "$dir" --before "$tmp/$name.before.json" --show "$show"
  "$shapes_kit/snapshot.py" "$dir" > "$tmp/$name.after-run.json"

  if cmp -s "$tmp/$name.before.json" "$tmp/$name.after-run.json"; then
    echo "Undo: the run wrote nothing, so there is nothing to undo"
    return
  fi
  status=0
  songwright "$name" --undo > "$tmp/$name.undo.txt" 2> "$tmp/$name.undo.err" || status=$?
  [ $status -le 1 ] || fault "$name: the undo exited with status $status: $(head -c 300 "$tmp/$name.undo.err")"
  "$shapes_kit/snapshot.py" "$dir" > "$tmp/$name.after-undo.json"
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

kit_main "with mojibake injected"
