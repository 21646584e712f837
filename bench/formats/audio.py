"""The audio of each container, as exact bytes, and the short tones the
library is made of.

audio_sha256(path, fmt) hashes the bytes a tag repair must never change:
FLAC frames after the metadata, the Ogg packets after the header packets of
each stream, MP4 mdat payloads, the ASF data object, the RIFF data or AIFF
SSND chunk, APE/WavPack/MP3 audio between a leading ID3v2 tag and the
trailing APEv2/ID3v1 tags. None when the container cannot be parsed.
"""
import hashlib
import io
import os
import shutil
import struct
import subprocess

from mutagen.ogg import OggPage

# Formats of the library: extension and ffmpeg encoder options.
FORMATS = {
    "flac": ("flac", ["-c:a", "flac"]),
    "ogg": ("ogg", ["-c:a", "libvorbis"]),
    "opus": ("opus", ["-c:a", "libopus", "-b:a", "8k"]),
    "wav": ("wav", ["-c:a", "pcm_s16le"]),
    "aiff": ("aiff", ["-c:a", "pcm_s16be"]),
    "m4a": ("m4a", ["-c:a", "aac"]),
    "wma": ("wma", ["-c:a", "wmav2"]),
    "wv": ("wv", ["-c:a", "wavpack"]),
    "ape": ("ape", None),  # no encoder: a hand-made header and frame bytes
    "mp3": ("mp3", None),  # silent MPEG frames (bench/shapes/mpeg.py)
}

ASF_HEADER = bytes.fromhex("3026b2758e66cf11a6d900aa0062ce6c")
ASF_DATA = bytes.fromhex("3626b2758e66cf11a6d900aa0062ce6c")


def id3v2_size(data):
    """Bytes of an ID3v2 tag at the start of data (0 when none)."""
    if len(data) < 10 or data[:3] != b"ID3":
        return 0
    size = 0
    for byte in data[6:10]:
        size = (size << 7) | (byte & 0x7F)
    return 10 + size + (10 if data[5] & 0x10 else 0)


def trailing_tags_start(data):
    """Where an ID3v1 tag and an APEv2 tag before it begin at the end of data."""
    end = len(data)
    if end >= 128 and data[end - 128:end - 125] == b"TAG":
        end -= 128
    if end >= 32 and data[end - 32:end - 24] == b"APETAGEX":
        size, _, flags = struct.unpack("<III", data[end - 20:end - 8])
        end -= size + (32 if flags & 0x80000000 else 0)
    return end


def flac_audio(data):
    pos = id3v2_size(data)
    if data[pos:pos + 4] != b"fLaC":
        return None
    pos += 4
    while True:
        if pos + 4 > len(data):
            return None
        head = data[pos]
        pos += 4 + int.from_bytes(data[pos + 1:pos + 4], "big")
        if head & 0x80:
            return data[pos:]


HEADER_PACKETS = ((b"\x01vorbis", 3), (b"OpusHead", 2), (b"\x80theora", 3), (b"\x7fFLAC", 2),
                  (b"Speex   ", 2))


def ogg_audio(data):
    """The packets after each stream's header packets, stream by stream."""
    src, streams = io.BytesIO(data), {}
    while data[src.tell():src.tell() + 4] == b"OggS":  # junk after the last page is not audio
        page = OggPage(src)
        streams.setdefault(page.serial, []).append(page)
    out = hashlib.sha256()
    for serial in sorted(streams):
        packets = OggPage.to_packets(streams[serial], strict=False)
        skip = next((n for magic, n in HEADER_PACKETS if packets and packets[0].startswith(magic)), 0)
        for packet in packets[skip:]:
            out.update(struct.pack("<I", len(packet)) + packet)
    return out.digest()


def atoms(data, start, end):
    """(name, payload start, atom end) of the atoms between start and end."""
    pos = start
    while pos + 8 <= end:
        size, name = struct.unpack(">I4s", data[pos:pos + 8])
        head = 8
        if size == 1:
            size, head = struct.unpack(">Q", data[pos + 8:pos + 16])[0], 16
        elif size == 0:
            size = end - pos
        if size < head or pos + size > end:
            raise ValueError("atom %r overruns its parent" % name)
        yield name, pos + head, pos + size
        pos += size


def mp4_audio(data):
    return b"".join(data[body:stop] for name, body, stop in atoms(data, 0, len(data))
                    if name == b"mdat")


def asf_audio(data):
    if data[:16] != ASF_HEADER:
        return None
    pos = struct.unpack("<Q", data[16:24])[0]
    if data[pos:pos + 16] != ASF_DATA:
        return None
    size = struct.unpack("<Q", data[pos + 16:pos + 24])[0]
    return data[pos:pos + size] if size >= 24 else data[pos:]


def riff_chunks(data, little):
    """(id, payload start, payload end) of the top chunks of a RIFF/RF64/FORM file."""
    order = "<" if little else ">"
    pos = 12
    while pos + 8 <= len(data):
        cid, size = struct.unpack(order + "4sI", data[pos:pos + 8])
        stop = len(data) if size == 0xFFFFFFFF else min(len(data), pos + 8 + size)
        yield cid, pos + 8, stop
        pos = stop + (stop & 1)


def pcm_audio(data):
    if data[:4] in (b"RIFF", b"RF64") and data[8:12] == b"WAVE":
        want, little = b"data", True
    elif data[:4] == b"FORM" and data[8:12] in (b"AIFF", b"AIFC"):
        want, little = b"SSND", False
    else:
        return None
    found = [data[a:b] for cid, a, b in riff_chunks(data, little) if cid == want]
    return found[0] if found else None


def tail_tagged_audio(data):
    return data[id3v2_size(data):trailing_tags_start(data)]


_AUDIO = {"flac": flac_audio, "ogg": ogg_audio, "opus": ogg_audio, "m4a": mp4_audio,
          "wma": asf_audio, "wav": pcm_audio, "aiff": pcm_audio, "ape": tail_tagged_audio,
          "wv": tail_tagged_audio, "mp3": tail_tagged_audio}


def audio_sha256(path, fmt):
    if fmt not in _AUDIO:
        return None
    with open(path, "rb") as src:
        data = src.read()
    try:
        audio = _AUDIO[fmt](data)
    except Exception:  # a broken container has no audio to compare
        return None
    return None if audio is None else hashlib.sha256(audio).hexdigest()


def ape_tone():
    """A Monkey's Audio file of one frame: a version 3.99 descriptor and
    header that readers take, and frame bytes that stand for the audio."""
    frames = bytes((i * 37 + 11) & 0xFF for i in range(512))
    descriptor = b"MAC " + struct.pack("<HH", 3990, 0) + struct.pack(
        "<IIIIIII", 52, 24, 4, 0, len(frames), 0, 0) + bytes(16)
    header = struct.pack("<HHIIIHHI", 2000, 0, 73728, 1600, 1, 16, 1, 8000)
    return descriptor + header + struct.pack("<I", 80) + frames


def make_tones(folder):
    """One short tone per format in folder (ffmpeg): {format: path}."""
    import mpeg  # bench/shapes, on the path of the caller
    os.makedirs(folder, exist_ok=True)
    made = {}
    for fmt, (ext, options) in FORMATS.items():
        path = os.path.join(folder, "tone." + ext)
        made[fmt] = path
        if fmt == "ape":
            with open(path, "wb") as out:
                out.write(ape_tone())
            continue
        if fmt == "mp3":
            with open(path, "wb") as out:
                out.write(mpeg.silent_audio(8))
            continue
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=0.2:sample_rate=8000", "-ac", "1"] + options +
                       ["-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact", path],
                       check=True)
    return made


def have_ffmpeg():
    return shutil.which("ffmpeg") is not None
