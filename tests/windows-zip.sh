#!/usr/bin/env bash
# The Windows zip as a user gets it: both programs and the text in one
# folder, the command line running from the unpacked folder under Wine, and
# programs that import nothing but Windows' own DLLs.
#   windows-zip.sh BUILD_DIR MAKE_LIBRARY
set -uo pipefail
build=$(cd "$1" && pwd) make_library=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

(cd "$build" && cpack -G ZIP -B "$work/packages" >"$work/cpack.log" 2>&1) ||
  fail "cpack failed: $(cat "$work/cpack.log")"
zip=$(ls "$work"/packages/BrenvaleSongwright-*-windows-x64.zip 2>/dev/null | head -n 1)
[ -n "$zip" ] || {
  echo "FAIL: no zip made" >&2
  exit 1
}
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip") || fail "the zip does not unpack"
folder=$work/unpacked/$(basename "$zip" .zip)
listing=$(cd "$folder" && ls)
[ "$listing" = "$(printf 'BrenvaleSongwright.exe\nREADME.txt\nsongwright.exe')" ] ||
  fail "the zip holds: $listing"
grep -q $'\r$' "$folder/README.txt" || fail "README.txt has no Windows line ends"
grep -q "songwright.exe --undo" "$folder/README.txt" || fail "README.txt does not say how to run"

"$make_library" "$work/music"
windows_music="Z:${work//\//\\}\\music"
(cd "$folder" && LC_ALL=ru_RU.UTF-8 wine songwright.exe --version) >"$work/out" 2>&1
grep -q "^songwright " "$work/out" || fail "songwright.exe --version: $(cat "$work/out")"
(cd "$folder" && LC_ALL=ru_RU.UTF-8 wine songwright.exe -q -c 1251 "$windows_music") >"$work/out" 2>&1
[ "$(tail -n 1 "$work/out")" = "Successfully fixed 9 files, couldn't fix 1 file" ] ||
  fail "unexpected summary from the unpacked songwright.exe: $(cat "$work/out")"

for program in "$folder"/*.exe; do
  imports=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$imports" ] || fail "$(basename "$program") imports nothing: not a program?"
  for dll in $imports; do
    case "$dll" in
      kernel32.dll | user32.dll | gdi32.dll | shell32.dll | ole32.dll | oleaut32.dll | \
        comctl32.dll | comdlg32.dll | advapi32.dll | msvcrt.dll | shlwapi.dll | uxtheme.dll) ;;
      *) fail "$(basename "$program") imports $dll" ;;
    esac
  done
done

[ "$failures" = 0 ] && echo "Windows zip: all checks passed"
exit $((failures > 0))
