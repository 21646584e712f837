#!/usr/bin/env bash
# The Windows command line under Wine: the options, exit codes and output of
# the Linux one, the automatic mode as its default whatever the ANSI code
# page, and programs that import nothing but Windows' own DLLs.
#   windows-cli.sh SONGWRIGHT_EXE MAKE_LIBRARY [OTHER_EXE ...]
set -uo pipefail
exe=$1 make_library=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
windows_path() { echo "Z:${1//\//\\}"; }

expect_status() {
  local want=$1
  shift
  LC_ALL=ru_RU.UTF-8 wine "$exe" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" = "$want" ] || fail "songwright $* exited $got, not $want"
}

"$make_library" "$work/music"
cp -a "$work/music" "$work/before"

for call in "--frobnicate" "--codepage 1234" "--codepage=koi8-r" "$(windows_path "$work/missing")"; do
  # shellcheck disable=SC2086
  expect_status 2 $call
  [ -s "$work/out" ] && fail "$call wrote to stdout"
  [ "$(wc -l <"$work/err")" = 1 ] || fail "$call: not one line on stderr"
done
expect_status 2 "$(windows_path "$work/music")" "$(windows_path "$work/missing")"
expect_status 2 -n -x "$(windows_path "$work/music")"
diff -r "$work/before" "$work/music" >/dev/null || fail "a usage error touched files"

# Short options, a file and a folder in one preview.
expect_status 0 -n -c 1251 "$(windows_path "$work/music/Kino/01 no padding.mp3")" \
  "$(windows_path "$work/music/Mixed")"
grep -q "^would fix	Z:.*\\\\Kino\\\\01 no padding.mp3$" "$work/out" ||
  fail "the preview does not name the file given: $(cat "$work/out")"
grep -q "^would fix	Z:.*\\\\Mixed\\\\txxx.mp3$" "$work/out" ||
  fail "the preview does not name a file of the folder given"
diff -r "$work/before" "$work/music" >/dev/null || fail "a preview touched files"

expect_status 0 --help
grep -q "This run decides the code page per album unless -c names a page" "$work/out" ||
  fail "--help does not say that the run decides per album"
expect_status 0 --version

# Without --codepage each album's text decides its page, as on Linux.
expect_status 0 -n "$(windows_path "$work/music")"
grep -q "^album	Kino	cp1251 (Cyrillic, " "$work/out" ||
  fail "the automatic preview does not decide cp1251 for Kino: $(cat "$work/out")"
grep -q "^album	Broken	leave as it is" "$work/out" ||
  fail "the automatic preview does not leave Broken: $(cat "$work/out")"

# -c names the page. The truncated tag holds text to repair but cannot be
# kept whole: reported, and again on the second run, which finds nothing else.
expect_status 1 -c 1251 "$(windows_path "$work/music")"
[ "$(tail -n 1 "$work/out")" = "Successfully fixed 9 files, couldn't fix 1 file" ] ||
  fail "unexpected summary: $(tail -n 1 "$work/out")"
grep -q "^fixed	Kino\\\\01 no padding.mp3$" "$work/out" || fail "no line for Kino\\01 no padding.mp3"
grep -q "^failed	Broken\\\\truncated tag.mp3	Couldn't save changes$" "$work/out" ||
  fail "the truncated tag is not reported"
expect_status 1 --codepage cp1251 "$(windows_path "$work/music")"
[ "$(tail -n 1 "$work/out")" = "Couldn't fix 1 file" ] || fail "second run: $(cat "$work/out")"

for program in "$exe" "$@"; do
  imports=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  for dll in $imports; do
    case "$dll" in
      kernel32.dll | user32.dll | gdi32.dll | shell32.dll | ole32.dll | oleaut32.dll | \
        comctl32.dll | comdlg32.dll | advapi32.dll | msvcrt.dll | shlwapi.dll | uxtheme.dll) ;;
      *) fail "$(basename "$program") imports $dll" ;;
    esac
  done
done

[ "$failures" = 0 ] && echo "Windows command line: all checks passed"
exit $((failures > 0))
