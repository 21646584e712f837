#!/usr/bin/python3
"""Generates the mixed-format library of bench/run.sh --library mixed: the
albums of bench/formats (FLAC, Ogg Vorbis, Opus, WAV, AIFF, MP4, WMA, APE,
WavPack and MP3, in every shape of wrong and right text) made of songs of a
realistic size instead of short tones. The wrong text is Cyrillic
(Russian, Ukrainian, Bulgarian) so that one code page, 1251, repairs all of
it as the MP3 benchmark's does; right text keeps every language of the kit.
Every other FLAC file loses its
padding, so that its repair must grow the file; the rest keep the padding
their tagger left, which holds the repaired text.

    mixed-library.py --files N [--profile small|real] [--song-bytes B] [--seed S] OUT

small songs are about 1 MB, real ones 5 MB; --song-bytes sets the size
instead (the smoke run's small library).

Prints a summary (files per format, FLAC files with and without padding)
and writes OUT/../flac-without-padding.txt, one path below OUT a line.
Needs ffmpeg and /usr/bin/python3 with mutagen.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
here = os.path.dirname(os.path.abspath(__file__))
sys.path.append(os.path.join(here, "shapes"))
sys.path.insert(0, os.path.join(here, "formats"))

import audio  # noqa: E402
import mpeg  # noqa: E402
import plan  # noqa: E402

make_library = __import__("make-library")

# Bytes a second of each encoding: 16-bit stereo PCM at 44.1 kHz for the
# lossless ones (noise barely compresses), 128 kbit/s for the lossy ones.
PCM_RATE = 176400
LOSSY_RATE = 16000
LOSSY = {"ogg": "libvorbis", "opus": "libopus", "m4a": "aac", "wma": "wmav2"}
LOSSLESS = {"flac": "flac", "wav": "pcm_s16le", "aiff": "pcm_s16be", "wv": "wavpack"}


CYRILLIC = ("ru", "uk", "bg")


def cyrillic_only():
    """Narrows the languages of every wrong shape of the plan to Cyrillic."""
    plan.LEGACY = CYRILLIC
    for shapes in plan.SHAPES.values():
        for shape, langs in shapes.items():
            if not plan.is_right(shape):
                shapes[shape] = tuple(l for l in langs if l in CYRILLIC) or ("ru",)


def ape_song(size):
    """A Monkey's Audio file of about `size` bytes: the kit's descriptor and
    header, and frame bytes that stand for the audio."""
    frames = bytes((i * 37 + 11) & 0xFF for i in range(4096)) * max(1, size // 4096)
    descriptor = b"MAC " + struct.pack("<HH", 3990, 0) + struct.pack(
        "<IIIIIII", 52, 24, 4, 0, len(frames), 0, 0) + bytes(16)
    header = struct.pack("<HHIIIHHI", 2000, 0, 73728, 1600, 1, 16, 1, 8000)
    return descriptor + header + struct.pack("<I", 80) + frames


def make_songs(folder, size):
    """One untagged song of about `size` bytes per format: {format: path}."""
    made = {}
    for fmt, (ext, _) in audio.FORMATS.items():
        path = os.path.join(folder, "song." + ext)
        made[fmt] = path
        if fmt == "ape":
            with open(path, "wb") as out:
                out.write(ape_song(size))
            continue
        if fmt == "mp3":
            with open(path, "wb") as out:
                out.write(mpeg.silent_audio(size // mpeg.FRAME_SIZE))
            continue
        lossy = fmt in LOSSY
        seconds = size / (LOSSY_RATE if lossy else PCM_RATE)
        codec = ["-c:a", LOSSY[fmt], "-b:a", "128k"] if lossy else ["-c:a", LOSSLESS[fmt]]
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "anoisesrc=color=pink:amplitude=0.3:sample_rate=48000:duration=%.2f"
                        % seconds, "-ac", "2"] + codec +
                       ["-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact",
                        path], check=True)
    return made


def strip_flac_padding(path):
    """Removes the PADDING blocks of a FLAC file; True when it had any."""
    with open(path, "rb") as src:
        data = src.read()
    if data[:4] != b"fLaC":
        return False
    pos, blocks, last = 4, [], False
    while not last and pos + 4 <= len(data):
        head = data[pos]
        last = bool(head & 0x80)
        length = int.from_bytes(data[pos + 1:pos + 4], "big")
        blocks.append((head & 0x7F, data[pos + 4:pos + 4 + length]))
        pos += 4 + length
    kept = [b for b in blocks if b[0] != 1]
    if len(kept) == len(blocks):
        return False
    out = [b"fLaC"]
    for k, (kind, body) in enumerate(kept):
        out.append(bytes([kind | (0x80 if k == len(kept) - 1 else 0)]) +
                   len(body).to_bytes(3, "big") + body)
    with open(path, "wb") as dst:
        dst.write(b"".join(out) + data[pos:])
    return True


def main(argv):
    parser = argparse.ArgumentParser(description="Generates the mixed-format library.")
    parser.add_argument("out", metavar="OUT")
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("--profile", choices=("small", "real"), default="small")
    parser.add_argument("--song-bytes", type=int, default=0)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args(argv)
    if os.path.exists(args.out) and os.listdir(args.out):
        parser.error("%s is not empty" % args.out)
    size = args.song_bytes or (1000000 if args.profile == "small" else 5000000)
    albums = max(1, round(args.files / 4.5))  # 3 to 6 tracks an album
    cyrillic_only()
    with tempfile.TemporaryDirectory() as tmp:
        songs = make_songs(tmp, size)
        audio.make_tones = lambda folder: songs
        made = make_library.generate(args.out, args.seed, albums)
    counts, stripped, padded = {}, [], 0
    for album in made:
        for k, entry in enumerate(album["files"]):
            fmt = entry["format"]
            counts[fmt] = counts.get(fmt, 0) + 1
            if fmt != "flac":
                continue
            if counts[fmt] % 2 == 0 and strip_flac_padding(os.path.join(args.out, entry["path"])):
                stripped.append(entry["path"])
            else:
                padded += 1
    with open(os.path.join(os.path.dirname(os.path.abspath(args.out)),
                           "flac-without-padding.txt"), "w") as out:
        out.writelines(p + "\n" for p in stripped)
    total = sum(counts.values())
    print("Mixed library: %d files in %d albums (%d with right text), about %.1f MB a song"
          % (total, len(made), sum(len(a["files"]) for a in made if a["right"]), size / 1e6))
    print("  " + ", ".join("%s %d" % (f, counts[f]) for f in sorted(counts)))
    print("  FLAC: %d with padding, %d without" % (padded, len(stripped)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
