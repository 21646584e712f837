#!/usr/bin/env bash
# Makes audio files whose tag holds a large picture (random bytes) beside a
# title and an artist holding cp1251 bytes where Latin-1 or UTF-8 is read:
# the files whose repair moves the most tag bytes.
#
#   bash bench/big-pictures.sh DIR [COUNT] [PICTURE_MB] [FORMAT]
#
# COUNT files (default 12) of about 2 seconds of audio and a PICTURE_MB
# picture (default 20) go in DIR. FORMAT is mp3 (default: an ID3v2 APIC
# frame), flac (a PICTURE block after the comments, padding last), ogg
# (Vorbis, a METADATA_BLOCK_PICTURE comment), m4a (a covr atom) or wv
# (WavPack, an APEv2 binary cover item). Needs /usr/bin/python3 with
# mutagen, and ffmpeg for every format but mp3.
set -euo pipefail
dir=${1:?usage: big-pictures.sh DIR [COUNT] [PICTURE_MB] [FORMAT]}
count=${2:-12}
megabytes=${3:-20}
format=${4:-mp3}
mkdir -p "$dir"
case "$format" in
  mp3) ;;
  flac) codec=(-c:a flac) ;;
  ogg) codec=(-c:a libvorbis) ;;
  m4a) codec=(-c:a aac) ;;
  wv) codec=(-c:a wavpack) ;;
  *) echo "unknown format $format" >&2; exit 2 ;;
esac
if [ "$format" != mp3 ]; then
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=2" -ac 2 -ar 44100 \
    "${codec[@]}" -map_metadata -1 "$dir/.audio.$format"
fi
/usr/bin/python3 - "$dir" "$count" "$megabytes" "$format" <<'PY'
import base64, os, random, shutil, sys

folder, count, megabytes, fmt = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
rng = random.Random(1)
titles = ["Звезда по имени Солнце", "Группа крови", "Кукушка", "Восьмиклассница"]
artist = "Кино"


def latin1(text):
    # cp1251 bytes taken one by one as Latin-1 letters: what a legacy
    # tagger stored.
    return text.encode("cp1251").decode("latin-1")


def mp3(path, title, picture):
    from mutagen.id3 import ID3, TIT2, TPE1, APIC, Encoding
    # MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417-byte frames; payload
    # bytes never 0xFF, so that no false sync appears.
    frame = bytes([0xFF, 0xFB, 0x90, 0x64]) + bytes(rng.randrange(0, 255) for _ in range(413))
    with open(path, "wb") as out:
        out.write(frame * 77)
    tag = ID3()
    tag.add(TIT2(encoding=Encoding.LATIN1, text=[latin1(title)]))
    tag.add(TPE1(encoding=Encoding.LATIN1, text=[latin1(artist)]))
    tag.add(APIC(encoding=Encoding.LATIN1, mime="image/jpeg", type=3, desc="cover", data=picture))
    tag.save(path, v2_version=3, padding=lambda info: 1024)


def flac_picture(picture):
    from mutagen.flac import Picture
    pic = Picture()
    pic.type, pic.mime, pic.desc, pic.data = 3, "image/jpeg", "cover", picture
    return pic


def flac(path, title, picture):
    from mutagen.flac import FLAC
    song = FLAC(path)
    song["TITLE"], song["ARTIST"] = latin1(title), latin1(artist)
    song.add_picture(flac_picture(picture))
    song.save(padding=lambda info: 1024)


def ogg(path, title, picture):
    from mutagen.oggvorbis import OggVorbis
    song = OggVorbis(path)
    song["TITLE"], song["ARTIST"] = latin1(title), latin1(artist)
    song["METADATA_BLOCK_PICTURE"] = base64.b64encode(flac_picture(picture).write()).decode()
    song.save()


def m4a(path, title, picture):
    from mutagen.mp4 import MP4, MP4Cover
    song = MP4(path)
    song["\xa9nam"], song["\xa9ART"] = [latin1(title)], [latin1(artist)]
    song["covr"] = [MP4Cover(picture, imageformat=MP4Cover.FORMAT_JPEG)]
    song.save(padding=lambda info: 1024)


def wv(path, title, picture):
    from mutagen.apev2 import APEv2, APEValue, BINARY
    tag = APEv2()
    tag["Title"], tag["Artist"] = latin1(title), latin1(artist)
    tag["Cover Art (Front)"] = APEValue(b"cover.jpg\0" + picture, BINARY)
    tag.save(path)


make = {"mp3": mp3, "flac": flac, "ogg": ogg, "m4a": m4a, "wv": wv}[fmt]
for i in range(count):
    path = os.path.join(folder, "%02d.%s" % (i + 1, fmt))
    if fmt != "mp3":
        shutil.copyfile(os.path.join(folder, ".audio." + fmt), path)
    make(path, titles[i % len(titles)], os.urandom(megabytes << 20))
if fmt != "mp3":
    os.remove(os.path.join(folder, ".audio." + fmt))
print("made %d %s files of %d MB pictures in %s" % (count, fmt, megabytes, folder))
PY
