#!/usr/bin/env bash
# The first run: builds build/songwright (installing what it needs), then
# previews your music folder, writing nothing. Without a music folder it
# makes a sample library of wrongly stored tag text in build/sample-library
# and repairs that instead, before your eyes: a preview, the repair, and a
# second run that finds nothing left to do. Your own files are never written.
#   first-run.sh [--built BUILD_DIR] [--sample FOLDER]
#     --built   use that build tree as it is (no install, no build)
#     --sample  where to make the sample library (emptied first)
set -euo pipefail
cd "$(dirname "$0")/.."

build=""
sample=""
while [ $# -gt 0 ]; do
  case $1 in
    --built) build=$2; shift 2 ;;
    --sample) sample=$2; shift 2 ;;
    *) echo "usage: first-run.sh [--built BUILD_DIR] [--sample FOLDER]" >&2; exit 2 ;;
  esac
done
if [ -z "$build" ]; then
  build=build
  echo "== Building $build/songwright"
  bash scripts/build-linux.sh "$build"
fi
sample=${sample:-$build/sample-library}
songwright=$build/songwright

# Without a PATH the program takes your music folder; it exits with 2 only
# when there is none, having said which folder it tried.
echo "== Preview of your music folder (nothing is written)"
status=0
"$songwright" --dry-run || status=$?
if [ "$status" != 2 ]; then
  echo
  echo "To repair it for real: $songwright    (and to put it back: $songwright --undo)"
  exit "$status"
fi

echo
echo "== No music folder here, so a sample library instead: $sample"
rm -rf "$sample"
"$build/tools/make-sample-library" "$sample"
echo
echo "== Preview: $songwright --dry-run $sample"
"$songwright" --dry-run "$sample"
echo
echo "== Repair: $songwright $sample"
"$songwright" "$sample"
echo
echo "== A second run: $songwright $sample"
"$songwright" "$sample"
echo
echo "The Western album (folder 4) was left as it is; $songwright --undo puts"
echo "the sample back as it was. To repair your own music:"
echo "  $songwright --dry-run PATH    (a preview), then $songwright PATH"
