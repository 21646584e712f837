"""Silent MPEG audio, ID3v1 blocks and a small cover picture, made by hand.

The audio is MPEG-1 Layer III, 64 kbit/s, 44.1 kHz, mono: frames of 208
bytes whose side information is all zero (no main data, so every granule is
silence). Any decoder and mutagen take it as valid audio.
"""
import struct
import zlib

FRAME_HEADER = bytes([0xFF, 0xFB, 0x50, 0xC4])  # MPEG-1 L3, 64 kbit/s, 44.1 kHz, mono
FRAME_SIZE = 144 * 64000 // 44100  # 208 bytes, no padding slot


def silent_audio(frames):
    """`frames` silent MPEG frames (about 26 ms each)."""
    frame = FRAME_HEADER + bytes(FRAME_SIZE - len(FRAME_HEADER))
    return frame * frames


def id3v1_block(title, artist, album, year, track):
    """An ID3v1.1 tag: fields are bytes already in their code page, cut to
    their width and padded with NULs; genre 255 (none)."""
    def field(data, width):
        return data[:width].ljust(width, b"\0")
    return (b"TAG" + field(title, 30) + field(artist, 30) + field(album, 30) +
            field(year, 4) + bytes(28) + b"\0" + bytes([track & 0xFF]) + b"\xff")


def id3v1_fields(data):
    """The title, artist and album bytes of the ID3v1 tag at the end of data
    (NULs and trailing spaces dropped), or None without one."""
    if len(data) < 128 or data[-128:-125] != b"TAG":
        return None
    block = data[-128:]
    return {name: block[start:start + 30].split(b"\0")[0].rstrip(b" ")
            for name, start in (("title", 3), ("artist", 33), ("album", 63))}


def id3v1_text(text, page):
    """What an ID3v1 field of 30 bytes keeps of text in a single-byte page:
    (the bytes, the text they read as)."""
    data = text.encode(page)[:30].rstrip(b" ")
    return data, data.decode(page)


def _png_chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body +
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def tiny_png():
    """A valid 1x1 grey PNG, for cover frames."""
    header = struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0)
    pixels = zlib.compress(b"\x00\x80")
    return (b"\x89PNG\r\n\x1a\n" + _png_chunk(b"IHDR", header) +
            _png_chunk(b"IDAT", pixels) + _png_chunk(b"IEND", b""))


def id3v2_end(data):
    """Offset just past the first ID3v2 tag at the start of data (0 without
    one): where the audio begins."""
    if data[:3] != b"ID3" or len(data) < 10:
        return 0
    size = 0
    for b in data[6:10]:
        size = (size << 7) | (b & 0x7F)
    footer = 10 if data[3] == 4 and data[5] & 0x10 else 0
    return 10 + size + footer
