"""Writing one file's tags in its container, text given as the exact bytes
(or characters) to store.

Mutagen writes UTF-8 fields from characters only, so a field that must hold
bytes that are not valid UTF-8 is first written as a placeholder of exactly
the same byte length and its bytes are replaced in the file afterwards (no
size changes; Ogg pages get their checksums again). The APEv2 tag and the
RIFF LIST/INFO chunk are built here whole.

A file is described by `texts`: [(role, stored)] with role one of title,
artist, album, genre, mood; stored is bytes for UTF-8 fields, a str for
ASF, (ID3v2 encoding, str) for ID3v2 frames and bytes for INFO items.
Besides the text, each file gets the fields a careless writer would lose.
"""
import base64
import io
import struct
import zlib

from mutagen.apev2 import delete as delete_ape
from mutagen.asf import ASF, ASFBoolAttribute, ASFByteArrayAttribute, ASFDWordAttribute
from mutagen.flac import FLAC, Picture
from mutagen.id3 import APIC, ID3, PRIV, Frames, TXXX
from mutagen.mp4 import MP4, AtomDataType, MP4Cover, MP4FreeForm
from mutagen.ogg import OggPage
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis

XIPH_KEYS = {"title": "TITLE", "artist": "ARTIST", "album": "ALBUM", "genre": "GENRE",
             "mood": "Mood Of The Day"}
MP4_KEYS = {"title": "\xa9nam", "artist": "\xa9ART", "album": "\xa9alb", "genre": "\xa9gen",
            "mood": "----:com.apple.iTunes:MOOD"}
ASF_KEYS = {"title": "Title", "artist": "Author", "album": "WM/AlbumTitle", "genre": "WM/Genre",
            "mood": "WM/Mood"}
APE_KEYS = {"title": "Title", "artist": "Artist", "album": "Album", "genre": "Genre",
            "mood": "Mood Note"}
ID3_FRAMES = {"title": "TIT2", "artist": "TPE1", "album": "TALB", "genre": "TCON", "mood": "TXXX"}
INFO_IDS = {"title": b"INAM", "artist": b"IART", "album": b"IPRD"}
NO_KEY_ENTRY = (b"RIPPED=by hand 2004", b"RIPPED by hand 2004")


def picture_bytes(seed):
    """A small PNG of one grey pixel (its shade from seed)."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes([0, seed & 0xFF]))) + chunk(b"IEND", b""))


def field_id(fmt, role):
    """The fields.py id of a text role in a format's own tag."""
    if fmt in ("flac", "ogg", "opus"):
        return "vc:%s#0" % XIPH_KEYS[role].upper()
    if fmt == "m4a":
        return "mp4:%s#0" % MP4_KEYS[role]
    if fmt == "wma":
        return "asf:%s#0" % ASF_KEYS[role]
    if fmt in ("ape", "wv"):
        return "ape:%s#0" % APE_KEYS[role].upper()
    return "id3:" + ("TXXX:Mood" if role == "mood" else ID3_FRAMES[role])


class Patches:
    """Placeholders of the right byte length, and the bytes that replace them."""

    def __init__(self):
        self.items = []

    def text(self, stored, before=b"", after=b""):
        """The str to give mutagen for stored bytes; bytes that are not
        valid UTF-8 are replaced in the file later (found by before+text+after)."""
        try:
            return stored.decode("utf-8")
        except UnicodeDecodeError:
            letter = chr(ord("A") + len(self.items) % 26)
            holder = (letter + "q" * len(stored))[:len(stored)]
            self.items.append((before + holder.encode() + after, before + stored + after))
            return holder

    def apply(self, path, ogg=False):
        if not self.items:
            return
        with open(path, "rb") as src:
            data = src.read()
        for old, new in self.items:
            if data.count(old) != 1:
                raise RuntimeError("%s: a placeholder is found %d times" % (path, data.count(old)))
            data = data.replace(old, new)
        if ogg:
            data = ogg_checksummed(data)
        with open(path, "wb") as out:
            out.write(data)


def ogg_checksummed(data):
    """The Ogg pages of data, each with its checksum made again."""
    src, out = io.BytesIO(data), []
    while src.tell() < len(data):
        out.append(OggPage(src).write())
    joined = b"".join(out)
    if len(joined) != len(data):
        raise RuntimeError("Ogg pages changed size when written again")
    return joined


def write_xiph(path, fmt, texts, number):
    song = {"flac": FLAC, "ogg": OggVorbis, "opus": OggOpus}[fmt](path)
    if song.tags is None:
        song.add_tags()
    song.tags.clear()
    patches = Patches()
    for role, stored in texts:
        key = XIPH_KEYS[role]
        entry_head = key.encode() + b"="
        song.tags.append((key, patches.text(stored, struct.pack("<I", len(entry_head) + len(stored))
                                                   + entry_head)))
    song.tags.append(("TRACKNUMBER", str(number)))
    song.tags.append(("RIPPED", "by hand 2004"))
    patches.items.append(NO_KEY_ENTRY)
    picture = Picture()
    picture.type, picture.mime, picture.desc = 3, "image/png", "front"
    picture.width = picture.height = 1
    picture.depth = 8
    picture.data = picture_bytes(number)
    if fmt == "flac":
        song.clear_pictures()
        song.add_picture(picture)
    else:
        song.tags.append(("METADATA_BLOCK_PICTURE", base64.b64encode(picture.write()).decode()))
    song.save()
    patches.apply(path, ogg=fmt != "flac")


def write_mp4(path, texts, number):
    song = MP4(path)
    if song.tags is None:
        song.add_tags()
    patches = Patches()
    for role, stored in texts:
        key = MP4_KEYS[role]
        if key.startswith("----"):  # freeform values are bytes already
            song.tags[key] = [MP4FreeForm(stored, dataformat=AtomDataType.UTF8)]
        else:
            head = struct.pack(">I", 16 + len(stored)) + b"data" + struct.pack(">II", 1, 0)
            song.tags[key] = [patches.text(stored, head)]
    song.tags["trkn"] = [(number, 0)]
    song.tags["covr"] = [MP4Cover(picture_bytes(number), imageformat=MP4Cover.FORMAT_PNG)]
    song.tags["----:com.example.bench:BLOB"] = [
        MP4FreeForm(b"\x00\x01\x02\xff", dataformat=AtomDataType.IMPLICIT)]
    song.save()
    patches.apply(path)


def write_asf(path, texts, number):
    song = ASF(path)
    for role, stored in texts:
        song.tags[ASF_KEYS[role]] = [stored]
    song.tags["WM/TrackNumber"] = [ASFDWordAttribute(number)]
    song.tags["WM/IsCompilation"] = [ASFBoolAttribute(False)]
    song.tags["Bench/Blob"] = [ASFByteArrayAttribute(b"\x00\x01\x02\xff" + bytes([number]))]
    song.save()


def ape_tag(items):
    """An APEv2 tag with header and footer; items: [(key, flags, bytes)]
    (flags 0 text, 2 binary)."""
    body = b"".join(struct.pack("<II", len(value), flags) + key.encode("ascii") + b"\x00" + value
                    for key, flags, value in items)
    size = len(body) + 32

    def frame(flags):
        return b"APETAGEX" + struct.pack("<IIII", 2000, size, len(items), flags) + bytes(8)
    return frame(0xA0000000) + body + frame(0x80000000)


def ape_items(texts, number):
    return ([(APE_KEYS[role], 0, stored) for role, stored in texts] +
            [("Track", 0, str(number).encode()),
             ("Cover Art (Front)", 2, b"front.png\x00" + picture_bytes(number))])


def write_ape(path, texts, number):
    delete_ape(path)
    with open(path, "ab") as out:
        out.write(ape_tag(ape_items(texts, number)))


def id3_tag(texts, number, with_picture=True):
    tag = ID3()
    for role, (encoding, text) in texts:
        if role == "mood":
            tag.add(TXXX(encoding=encoding, desc="Mood", text=[text]))
        else:
            tag.add(Frames[ID3_FRAMES[role]](encoding=encoding, text=[text]))
    tag.add(Frames["TRCK"](encoding=0, text=[str(number)]))
    if with_picture:
        tag.add(APIC(encoding=0, mime="image/png", type=3, desc="", data=picture_bytes(number)))
    tag.add(PRIV(owner="bench.example", data=b"\x00\x01"))
    return tag


def write_mp3(path, id3_texts, ape_texts, number, version):
    tag = id3_tag(id3_texts, number, with_picture=False)
    if version == 3:
        tag.update_to_v23()
    tag.save(path, v1=0, v2_version=version)
    with open(path, "ab") as out:
        out.write(ape_tag(ape_items(ape_texts, number)))


def add_info(path, info):
    """Appends a LIST/INFO chunk of [(id, bytes)] to a RIFF file."""
    items = b""
    for cid, value in info:
        value += b"\x00"
        items += cid + struct.pack("<I", len(value)) + value + (b"\x00" if len(value) & 1 else b"")
    chunk = b"LIST" + struct.pack("<I", 4 + len(items)) + b"INFO" + items
    with open(path, "r+b") as out:
        data = out.read()
        if len(data) & 1:
            data += b"\x00"
        data += chunk
        out.seek(0)
        out.write(data[:4] + struct.pack("<I", len(data) - 8) + data[8:])


def write_riff(path, fmt, info, id3_texts, number, version):
    """WAV: INFO items first, then an ID3v2 chunk when id3_texts; AIFF: an ID3 chunk."""
    if info:
        add_info(path, info + [(b"ISFT", b"Bench Recorder 1.0")])
    if id3_texts:
        from mutagen.aiff import AIFF
        from mutagen.wave import WAVE
        song = (WAVE if fmt == "wav" else AIFF)(path)
        song.add_tags()
        for frame in id3_tag(id3_texts, number).values():
            song.tags.add(frame)
        if version == 3:
            song.tags.update_to_v23()
        song.save(v2_version=version)
