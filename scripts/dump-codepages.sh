#!/bin/bash
# Usage: scripts/dump-codepages.sh OUTDIR [OUTFILE]
#
# Builds tools/dump-codepages.cc for Windows into OUTDIR, runs it under Wine
# (prefix and locales of OUTDIR, see scripts/wine-env.sh) and writes the
# decoding tables it records to OUTFILE, by default
# tests/data/codepages-windows.txt. Quiet on success.
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUTDIR [OUTFILE]" >&2
  exit 2
fi

ROOT=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
OUTDIR=$(cd "$1" && pwd)
OUTFILE=${2:-$ROOT/tests/data/codepages-windows.txt}
mkdir -p "$(dirname "$OUTFILE")"
OUTFILE="$(cd "$(dirname "$OUTFILE")" && pwd)/$(basename "$OUTFILE")"
EXE="$OUTDIR/dump-codepages.exe"

x86_64-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -static -municode \
  -o "$EXE" "$ROOT/tools/dump-codepages.cc"

# shellcheck source=scripts/wine-env.sh
. "$ROOT/scripts/wine-env.sh" "$OUTDIR"

# Written beside the result and moved into place only when complete.
TMP="$OUTFILE.tmp"
rm -f "$TMP"
WIN_TMP=$(winepath -w "$TMP" 2> /dev/null)
if ! wine "$EXE" "$WIN_TMP"; then
  rm -f "$TMP"
  echo "dump-codepages: $EXE failed under Wine" >&2
  exit 1
fi
mv "$TMP" "$OUTFILE"
