#!/usr/bin/env bash
# Makes MP3 files whose ID3v2 tag holds a large picture (APIC of random
# bytes) beside a title and an artist stored as Latin-1 frames that hold
# cp1251 bytes: the files whose repair moves the most tag bytes.
#
#   bash bench/big-pictures.sh DIR [COUNT] [PICTURE_MB]
#
# COUNT files (default 12) of about 2 seconds of silent-looking MPEG-1
# Layer III frames and a PICTURE_MB picture (default 20) go in DIR.
# Needs /usr/bin/python3 with mutagen.
set -euo pipefail
dir=${1:?usage: big-pictures.sh DIR [COUNT] [PICTURE_MB]}
count=${2:-12}
megabytes=${3:-20}
mkdir -p "$dir"
/usr/bin/python3 - "$dir" "$count" "$megabytes" <<'PY'
import os, random, sys
from mutagen.id3 import ID3, TIT2, TPE1, APIC, Encoding

folder, count, megabytes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(1)
# MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417-byte frames; payload bytes
# never 0xFF, so that no false sync appears.
frame = bytes([0xFF, 0xFB, 0x90, 0x64]) + bytes(rng.randrange(0, 255) for _ in range(413))
audio = frame * 77
titles = ["Звезда по имени Солнце", "Группа крови", "Кукушка", "Восьмиклассница"]
artist = "Кино"
for i in range(count):
    path = os.path.join(folder, "%02d.mp3" % (i + 1))
    with open(path, "wb") as out:
        out.write(audio)
    tag = ID3()
    # Latin-1 frames holding cp1251 bytes: what the repair re-decodes.
    title = titles[i % len(titles)].encode("cp1251").decode("latin-1")
    tag.add(TIT2(encoding=Encoding.LATIN1, text=[title]))
    tag.add(TPE1(encoding=Encoding.LATIN1, text=[artist.encode("cp1251").decode("latin-1")]))
    picture = os.urandom(megabytes << 20)
    tag.add(APIC(encoding=Encoding.LATIN1, mime="image/jpeg", type=3, desc="cover", data=picture))
    tag.save(path, v2_version=3, padding=lambda info: 1024)
print("made %d files of %d MB pictures in %s" % (count, megabytes, folder))
PY
