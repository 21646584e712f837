#!/bin/bash
# Usage: scripts/wizard-screenshots.sh [BUILD_DIR [OUT_DIR]]
#
# Runs BUILD_DIR/BrenvaleSongwright.exe (default build-windows) under Xvfb and
# Wine on a generated fixture folder and saves a PNG of each step into OUT_DIR
# (default BUILD_DIR/screenshots), for review by eye:
#   1-folder.png     the folder page as it opens (My Music proposed)
#   2-typed.png      the fixture path typed into the field
#   3-browse.png     the folder browser of "&Change..."
#   4-progress.png   the progress page, a moment after "&Fix"
#   5-progress.png   the same two seconds later
#   6-results.png    the results page, once the screen has stopped changing
# Wine 8 draws a classic wizard: no header area, no caption (the pages have
# none, and Wine takes a wizard's caption from its page), and the Finish
# caption request hides the Back button, so Back is not shown here; the
# wizard's tests press it through the property sheet instead.
# Wine runs in a prefix of its own below OUT_DIR with the X11 driver, so the
# build tree's prefix keeps the null driver that the tests use.
# Needs xvfb, xdotool and imagemagick (scripts/install-deps.sh windows).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build-windows}" && pwd)
OUT=${2:-$BUILD/screenshots}
EXE="$BUILD/BrenvaleSongwright.exe"
[ -f "$EXE" ] || {
  echo "wizard-screenshots: $EXE not built" >&2
  exit 1
}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

# shellcheck source=scripts/wine-env.sh
. "$ROOT/scripts/wine-env.sh" "$OUT/wine"
wine_use_x11_driver

# Enough files that the progress page stays up for a moment: titles stored
# as Latin-1 bytes C0 E1 E2, which code page 1251 reads as Cyrillic; one
# read-only file cannot be saved.
FIXTURE="$OUT/fixture"
rm -rf "$FIXTURE"
python3 - "$FIXTURE" << 'PYTHON'
import os
import struct
import sys

root = sys.argv[1]


def sync_safe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def mp3(title):
    body = b"\0" + title
    frame = b"TIT2" + struct.pack(">I", len(body)) + b"\0\0" + body
    tag = b"ID3\x03\0\0" + sync_safe(len(frame)) + frame
    return tag + (b"\xff\xfb\x90\x64" + bytes(413)) * 10


for i in range(600):
    folder = os.path.join(root, "Album %02d" % (i // 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Song %04d.mp3" % i), "wb") as out:
        out.write(mp3(b"\xc0\xe1\xe2 %d" % i))
locked = os.path.join(root, "Read-only.mp3")
with open(locked, "wb") as out:
    out.write(mp3(b"\xc0\xe1\xe2"))
os.chmod(locked, 0o444)
PYTHON
WINDOWS_FIXTURE=$(winepath -w "$FIXTURE" 2> /dev/null)

DISPLAY_NUMBER=97
while [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] || [ -e "/tmp/.X$DISPLAY_NUMBER-lock" ]; do
  DISPLAY_NUMBER=$((DISPLAY_NUMBER + 1))
done
Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
XVFB=$!
export DISPLAY=":$DISPLAY_NUMBER"
WIZARD=""
finish() {
  [ -n "$WIZARD" ] && kill "$WIZARD" 2> /dev/null
  wineserver -k 2> /dev/null || true
  kill "$XVFB" 2> /dev/null || true
}
trap finish EXIT
sleep 2

shot() {
  sleep "${2:-1}"
  import -window root "$OUT/$1"
  echo "saved $OUT/$1"
}

# Waits until the wizard's window is mapped; prints its id. Wine gives a
# wizard the caption of its page templates, which have none, so the window is
# found by its program's class rather than its title.
wait_wizard() {
  local id=""
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --class '^brenvalesongwright.exe$' 2> /dev/null |
      head -n 1) || true
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || {
    echo "wizard-screenshots: the wizard did not show up" >&2
    exit 1
  }
  echo "$id"
}

LC_ALL=ru_RU.UTF-8 wine "$EXE" > "$OUT/wine.log" 2>&1 &
WIZARD=$!
wait_wizard > /dev/null
shot 1-folder.png 2

# The path field has the focus when the page opens.
xdotool key ctrl+a BackSpace
xdotool type --delay 5 "$WINDOWS_FIXTURE"
shot 2-typed.png 1

# Alt+C presses "&Change..."; Escape cancels the browser, which leaves the
# field as it was; Shift+Tab takes the focus back to the field.
xdotool key --clearmodifiers alt+c
shot 3-browse.png 3
xdotool key Escape
sleep 1
xdotool key shift+Tab

# Return presses the default button, Next ("&Fix").
xdotool key Return
shot 4-progress.png 1
shot 5-progress.png 2

# The bars move until the results page is up; a save that waits for the disk
# can hold them for a second or two, so the screen must stay still for five.
previous=""
still=0
for _ in $(seq 300); do
  sleep 1
  import -window root "$OUT/6-results.png"
  current=$(md5sum < "$OUT/6-results.png")
  if [ "$current" = "$previous" ]; then
    still=$((still + 1))
    [ "$still" -ge 5 ] && break
  else
    still=0
  fi
  previous=$current
done
echo "saved $OUT/6-results.png"
