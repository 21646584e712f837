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
kit=shapes
albums=200 seed=1 binary=$here/../../build/songwright show=0 keep=0
realworld=${SONGWRIGHT_REALWORLD:-$here/../../../shared/realworld}
usage() { sed -n '7,8p' "$0" | sed 's/^# *//' >&2; exit 2; }
source "$here/../kit.sh"
kit_options "$@"
kit_setup

# measure NAME DIR: preview, repair and score one library.
measure() {
  local name=$1 dir=$2 status=0
  "$here/make-library.py" --check "$dir" > "$tmp/$name.check.txt" || fault "$name: the library does not match its manifest (see below)"
  tail -n 5 "$tmp/$name.check.txt"
  kit_preview "$name" "$dir" --codepage auto

  songwright "$name" --codepage auto "$dir" > "$tmp/$name.run.txt" 2> "$tmp/$name.run.err" || status=$?
  [ $status -le 1 ] || fault "$name: the run exited with status $status"
  echo "Run: $(tail -n 1 "$tmp/$name.run.txt") (exit status $status); albums left for want of a sure page: $(grep -c 'left as it is' "$tmp/$name.run.err" || true)"
  "$here/score.py" "$dir" --before "$tmp/$name.before.json" --json --show 50 > "$tmp/$name.score.json"
  "$here/score.py" "$dir" --before "$tmp/$name.before.json" --show "$show"
}

kit_main "rewritten into the shapes"
