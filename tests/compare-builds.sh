#!/usr/bin/env bash
# Repairs the same folder with the Linux program and with the Windows program
# under Wine (ANSI code page from the locale), with the code page named and in
# the automatic mode, and compares the results byte for byte.
#   compare-builds.sh LINUX_SONGWRIGHT WINDOWS_SONGWRIGHT_EXE MAKE_LIBRARY CODEPAGE LOCALE
set -euo pipefail
linux=$1 windows=$2 make_library=$3 codepage=$4 locale=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# compare NAME [OPTION...]: one run of each build with the same options.
compare() {
  local name=$1
  shift
  local dir=$work/$name
  mkdir "$dir"
  "$make_library" "$dir/linux"
  cp -a "$dir/linux" "$dir/windows"
  cp -a "$dir/linux" "$dir/original"

  "$linux" "$@" "$dir/linux" >"$dir/linux.out" || [ $? = 1 ]
  LC_ALL=$locale wine "$windows" "$@" "Z:${dir//\//\\}\\windows" >"$dir/windows.out" || [ $? = 1 ]

  if ! diff -r "$dir/linux" "$dir/windows"; then
    echo "$name: the two builds left different files" >&2
    exit 1
  fi
  if diff -rq "$dir/original" "$dir/linux" >/dev/null; then
    echo "$name: nothing was repaired: the comparison proves nothing" >&2
    exit 1
  fi
  # Same summary, and the same files reported (Windows shows backslashes).
  if [ "$(tail -n 1 "$dir/linux.out")" != "$(tail -n 1 "$dir/windows.out")" ]; then
    echo "$name: summaries differ:" >&2
    tail -n 1 "$dir/linux.out" "$dir/windows.out" >&2
    exit 1
  fi
  if ! diff <(sort "$dir/linux.out") <(tr '\\' / <"$dir/windows.out" | sort); then
    echo "$name: reported files differ" >&2
    exit 1
  fi
  echo "$name: $(tail -n 1 "$dir/linux.out"), identical on both builds"
}

compare "code-page-$codepage" --codepage "$codepage"
# Without -c each album's text decides, whatever the ANSI code page.
compare automatic
