#!/bin/sh
# Remakes the tiny audio files under tests/data/formats: a quarter second of
# a 440 Hz tone, mono at 8 kHz, encoded as FLAC, Ogg Vorbis and Opus, with
# no tags (the tests add the text they need). Needs /usr/bin/python3, flac,
# oggenc and opusenc.
set -eu
out=$(cd "$(dirname "$0")/.." && pwd)/tests/data/formats
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work/tone.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(8000)
    w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 440 * i / 8000)))
                           for i in range(2000)))
PY
flac --silent --force --no-padding -o "$out/tone.flac" "$work/tone.wav"
metaflac --remove-all-tags --dont-use-padding "$out/tone.flac"
oggenc --quiet --quality 0 --serial 1234 -o "$out/tone.ogg" "$work/tone.wav"
opusenc --quiet --bitrate 8 --serial 5678 "$work/tone.wav" "$out/tone.opus"
ls -l "$out"
