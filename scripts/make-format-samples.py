#!/usr/bin/python3
"""Makes the small MP4, WMA, WAV and AIFF files of tests/data/formats: a short
tone from ffmpeg, tagged with mutagen, with legacy text put in where mutagen
will not write it (raw code-page bytes in a UTF-8 atom, INFO items, AIFF text
chunks). Run from the repository's root: scripts/make-format-samples.py"""
import os
import struct
import subprocess
import tempfile

from mutagen.asf import ASF, ASFUnicodeAttribute
from mutagen.aiff import AIFF
from mutagen.id3 import COMM, TALB, TCON, TIT2, TPE1
from mutagen.mp4 import MP4, MP4FreeForm
from mutagen.wave import WAVE

OUT = os.path.join("tests", "data", "formats")


def cp1251(text):
    return text.encode("cp1251")


def widened(text):
    """Code-page bytes with each byte taken as one character."""
    return cp1251(text).decode("latin-1")


def twice(text):
    """UTF-8 read as Windows-1252 and encoded as UTF-8 again."""
    out = ""
    for byte in text.encode("utf-8"):
        try:
            out += bytes([byte]).decode("cp1252")
        except UnicodeDecodeError:  # the five bytes Windows-1252 leaves out
            out += chr(byte)
    return out


def tone(path, codec_args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=440:duration=0.25:sample_rate=8000", "-ac", "1",
                    "-fflags", "+bitexact", "-map_metadata", "-1"] + codec_args + [path],
                   check=True)


def replace_once(path, marker, raw):
    """Puts `raw` in place of `marker` (same length, so no size moves)."""
    data = open(path, "rb").read()
    assert len(marker) == len(raw) and data.count(marker) == 1, marker
    open(path, "wb").write(data.replace(marker, raw))


def placeholder(raw, letter):
    return (letter * len(raw)).encode("ascii")


def mp4(name, faststart, padded, items, raw=()):
    path = os.path.join(OUT, name)
    args = ["-c:a", "aac", "-b:a", "16k"] + (["-movflags", "+faststart"] if faststart else [])
    tone(path, args)
    tags = MP4(path)
    for key, value in items:
        tags[key] = value
    for key, text, letter in raw:
        marker = placeholder(cp1251(text), letter)
        tags[key] = [MP4FreeForm(marker) if key.startswith("----") else marker.decode("ascii")]
    tags.save(padding=(lambda info: 1024) if padded else (lambda info: 0))
    for key, text, letter in raw:
        replace_once(path, placeholder(cp1251(text), letter), cp1251(text))


def riff_chunk(chunk_id, data, big_endian):
    size = struct.pack(">I" if big_endian else "<I", len(data))
    return chunk_id + size + data + (b"\0" if len(data) % 2 else b"")


def add_chunks_before(path, audio_id, chunks, big_endian):
    data = open(path, "rb").read()
    at = data.index(audio_id, 12)
    data = data[:at] + b"".join(chunks) + data[at:]
    size = struct.pack(">I" if big_endian else "<I", len(data) - 8)
    open(path, "wb").write(data[:4] + size + data[8:])


def info_list(items):
    body = b"INFO" + b"".join(riff_chunk(i, v + b"\0", False) for i, v in items)
    return riff_chunk(b"LIST", body, False)


def id3_latin1(tags, title, artist, album):
    tags.add(TIT2(encoding=0, text=widened(title)))
    tags.add(TPE1(encoding=0, text=widened(artist)))
    tags.add(TALB(encoding=0, text=widened(album)))
    tags.add(TCON(encoding=1, text="Шансон"))
    tags.add(COMM(encoding=0, lang="rus", desc="", text=widened("Запись 1968 года")))


def main():
    os.makedirs(OUT, exist_ok=True)
    mp4("cp1251-faststart.m4a", True, False,
        [("\xa9alb", "Лучшие песни"),
         ("----:com.apple.iTunes:iTunNORM", [MP4FreeForm(b" 00000A1B 00000B2C")])],
        [("\xa9nam", "Песня о друге", "N"), ("\xa9ART", "Владимир Высоцкий", "A"),
         ("----:com.apple.iTunes:MOOD", "Грусть", "M")])
    mp4("twice-shrinks.m4a", True, False, [("\xa9ART", twice("Владимир Высоцкий"))])
    mp4("cp1251-padded.m4a", True, True, [("\xa9ART", twice("Владимир Высоцкий"))],
        [("\xa9nam", "Песня о друге", "N"), ("\xa9cmt", "Запись 1968 года", "C")])
    mp4("cp1251-moov-last.m4a", False, False, [("\xa9alb", "Лучшие песни")],
        [("\xa9nam", "Песня о друге", "N"), ("\xa9ART", "Владимир Высоцкий", "A")])
    mp4("right.m4a", True, True,
        [("\xa9nam", "Песня о друге"), ("\xa9ART", "Müller & Söhne"), ("\xa9alb", "Café crème"),
         ("\xa9cmt", "Zażółć gęślą jaźń"), ("\xa9gen", "Ελληνική μουσική")])

    path = os.path.join(OUT, "widened.wma")
    tone(path, ["-c:a", "wmav2", "-b:a", "32k"])
    tags = ASF(path)
    tags["Title"] = widened("Песня о друге")
    tags["Author"] = widened("Владимир Высоцкий")
    tags["WM/AlbumTitle"] = widened("Лучшие песни")
    tags["WM/Genre"] = "Шансон"
    tags["WM/Composer"] = twice("Высоцкий")
    tags["WM/TrackNumber"] = 3
    # A stream makes a Metadata object's record, a language a Metadata
    # Library's; both sit in the Header Extension.
    tags["WM/Writer"] = [ASFUnicodeAttribute(widened("Высоцкий"), stream=1)]
    tags["WM/Mood"] = [ASFUnicodeAttribute(widened("Грусть"), language=1)]
    tags.save()
    path = os.path.join(OUT, "right.wma")
    tone(path, ["-c:a", "wmav2", "-b:a", "32k"])
    tags = ASF(path)
    tags["Title"] = "Песня о друге"
    tags["Author"] = "Müller & Söhne"
    tags["WM/AlbumTitle"] = "Zażółć gęślą jaźń"
    tags["WM/Genre"] = "Ελληνική μουσική"
    tags.save()

    info = [(b"INAM", cp1251("Песня о друге")), (b"IART", cp1251("Владимир Высоцкий")),
            (b"IPRD", cp1251("Лучшие песни")), (b"ICMT", cp1251("Запись 1968 года")),
            (b"ICRD", b"1968"), (b"ISFT", b"Recorder 2.1")]
    path = os.path.join(OUT, "info-cp1251.wav")
    tone(path, ["-c:a", "pcm_s16le"])
    add_chunks_before(path, b"data", [info_list(info)], False)
    path = os.path.join(OUT, "id3-cp1251.wav")
    tone(path, ["-c:a", "pcm_s16le"])
    add_chunks_before(path, b"data", [info_list(info[:2])], False)
    tags = WAVE(path)
    tags.add_tags()
    id3_latin1(tags.tags, "Песня о друге", "Владимир Высоцкий", "Лучшие песни")
    tags.save()
    path = os.path.join(OUT, "right.wav")
    tone(path, ["-c:a", "pcm_s16le"])
    add_chunks_before(path, b"data", [info_list([(b"INAM", "Café crème".encode("cp1252"))])],
                      False)
    tags = WAVE(path)
    tags.add_tags()
    tags.tags.add(TIT2(encoding=1, text="Café crème"))
    tags.tags.add(TPE1(encoding=3, text="Zażółć gęślą jaźń"))
    tags.save()

    path = os.path.join(OUT, "name-cp1251.aiff")
    tone(path, ["-c:a", "pcm_s16be"])
    add_chunks_before(path, b"SSND", [riff_chunk(b"NAME", cp1251("Песня о друге"), True),
                                      riff_chunk(b"AUTH", cp1251("Владимир Высоцкий"), True)],
                      True)
    path = os.path.join(OUT, "id3-cp1251.aiff")
    tone(path, ["-c:a", "pcm_s16be"])
    tags = AIFF(path)
    tags.add_tags()
    id3_latin1(tags.tags, "Песня о друге", "Владимир Высоцкий", "Лучшие песни")
    tags.save()


if __name__ == "__main__":
    main()
