#!/usr/bin/env bash
# Repairs the same folder with the Linux program and with the Windows program
# under Wine (ANSI code page from the locale) and compares the results byte
# for byte.
#   compare-builds.sh LINUX_SONGWRIGHT WINDOWS_SONGWRIGHT_EXE MAKE_LIBRARY CODEPAGE LOCALE
set -euo pipefail
linux=$1 windows=$2 make_library=$3 codepage=$4 locale=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$make_library" "$work/linux"
cp -a "$work/linux" "$work/windows"
cp -a "$work/linux" "$work/original"

"$linux" --codepage "$codepage" "$work/linux" >"$work/linux.out" || [ $? = 1 ]
LC_ALL=$locale wine "$windows" "Z:${work//\//\\}\\windows" >"$work/windows.out" || [ $? = 1 ]

if ! diff -r "$work/linux" "$work/windows"; then
  echo "the two builds left different files" >&2
  exit 1
fi
if diff -rq "$work/original" "$work/linux" >/dev/null; then
  echo "nothing was repaired: the comparison proves nothing" >&2
  exit 1
fi
# Same summary, and the same files reported (Windows shows backslashes).
if [ "$(tail -n 1 "$work/linux.out")" != "$(tail -n 1 "$work/windows.out")" ]; then
  echo "summaries differ:" >&2
  tail -n 1 "$work/linux.out" "$work/windows.out" >&2
  exit 1
fi
if ! diff <(sort "$work/linux.out") <(tr '\\' / <"$work/windows.out" | sort); then
  echo "reported files differ" >&2
  exit 1
fi
echo "code page $codepage: $(tail -n 1 "$work/linux.out"), identical on both builds"
