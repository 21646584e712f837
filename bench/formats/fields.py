"""Every field of a file's tags, as stored: read_fields(path, fmt) gives
{field id: (text, value bytes)} and a problem (None, or why a tag could not
be read whole).

Field ids name the tag and the key, and count repeats: "vc:TITLE#0" (Xiph
comment; an entry with no '=' is "vc:#n"), "picture#0" (FLAC block),
"mp4:\xa9nam#0" and "mp4:----:com.apple.iTunes:MOOD#0", "asf:WM/Genre#0",
"ape:TITLE#0", "id3:TIT2" (mutagen's HashKey; ID3v2 tags of MP3, WAV and
AIFF), "info:INAM#0" (RIFF LIST/INFO), "aiff:NAME#0" (AIFF text chunk).

`text` is what a player reads: the UTF-8 fields (Xiph, MP4, APEv2) decoded
strictly, None when their bytes are not valid UTF-8 or not text; ASF and
ID3v2 text as mutagen decodes it; INFO and AIFF chunk bytes have no text
(their page is not said). The value bytes are those stored (for ID3v2
frames other than text, mutagen's rendering of the frame's data).
"""
import io
import struct

from mutagen.asf import ASF, ASFUnicodeAttribute
from mutagen.ogg import OggPage

import audio

MP4_TEXT_ATOMS = {b"\xa9nam", b"\xa9ART", b"\xa9alb", b"\xa9gen", b"aART", b"\xa9wrt",
                  b"\xa9cmt", b"\xa9day", b"\xa9grp", b"\xa9too", b"\xa9lyr", b"desc", b"cprt"}


def _utf8(data):
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return None


def _add(fields, prefix, key, text, value):
    n = 0
    while "%s%s#%d" % (prefix, key, n) in fields:
        n += 1
    fields["%s%s#%d" % (prefix, key, n)] = (text, value)


def xiph_comments(data, fields):
    """The entries of a Vorbis comment (vendor string first)."""
    vendor = struct.unpack("<I", data[:4])[0]
    pos = 4 + vendor
    count = struct.unpack("<I", data[pos:pos + 4])[0]
    pos += 4
    for _ in range(count):
        size = struct.unpack("<I", data[pos:pos + 4])[0]
        entry = data[pos + 4:pos + 4 + size]
        if len(entry) != size:
            raise ValueError("a comment runs past its block")
        pos += 4 + size
        key, eq, value = entry.partition(b"=")
        if not eq:
            _add(fields, "vc:", "", None, entry)
        else:
            _add(fields, "vc:", key.decode("latin-1").upper(), _utf8(value), value)


def flac_fields(data, fields):
    pos = audio.id3v2_size(data)
    if data[pos:pos + 4] != b"fLaC":
        raise ValueError("no fLaC marker")
    pos += 4
    while pos + 4 <= len(data):
        head, size = data[pos], int.from_bytes(data[pos + 1:pos + 4], "big")
        body = data[pos + 4:pos + 4 + size]
        if head & 0x7F == 4:
            xiph_comments(body, fields)
        elif head & 0x7F == 6:
            _add(fields, "", "picture", None, body)
        pos += 4 + size
        if head & 0x80:
            return
    raise ValueError("metadata runs past the file")


def ogg_fields(data, fields):
    src, streams = io.BytesIO(data), {}
    while data[src.tell():src.tell() + 4] == b"OggS":  # junk after the last page is not audio
        page = OggPage(src)
        streams.setdefault(page.serial, []).append(page)
    for serial in sorted(streams):
        pages = streams[serial]
        # the comment packet is the second one: gather pages until it is whole
        wanted, packets = [], []
        for page in pages:
            wanted.append(page)
            if page.complete or len(page.packets) > 1:
                packets = OggPage.to_packets(wanted, strict=False)
                if len(packets) >= 2:
                    break
        if len(packets) < 2:
            continue
        comment = packets[1]
        for magic in (b"\x03vorbis", b"OpusTags"):
            if comment.startswith(magic):
                xiph_comments(comment[len(magic):], fields)


def _meta_children(data, body, stop):
    # meta is a full box (4 bytes of version and flags) in most files, not in all
    if data[body + 4:body + 8] in (b"hdlr", b"ilst", b"free"):
        return body, stop
    return body + 4, stop


def mp4_fields(data, fields):
    ilst = None
    for name, body, stop in audio.atoms(data, 0, len(data)):
        if name != b"moov":
            continue
        for name2, body2, stop2 in audio.atoms(data, body, stop):
            if name2 != b"udta":
                continue
            for name3, body3, stop3 in audio.atoms(data, body2, stop2):
                if name3 == b"meta":
                    start, end = _meta_children(data, body3, stop3)
                    for name4, body4, stop4 in audio.atoms(data, start, end):
                        if name4 == b"ilst":
                            ilst = (body4, stop4)
    if ilst is None:
        return
    for name, body, stop in audio.atoms(data, *ilst):
        key = name.decode("latin-1")
        children = list(audio.atoms(data, body, stop))
        if name == b"----":
            parts = {n: data[b + 4:s] for n, b, s in children if n in (b"mean", b"name")}
            key = "----:%s:%s" % (parts.get(b"mean", b"").decode("latin-1"),
                                  parts.get(b"name", b"").decode("latin-1"))
        for child, cbody, cstop in children:
            if child != b"data":
                continue
            kind = struct.unpack(">I", data[cbody:cbody + 4])[0] & 0xFFFFFF
            value = data[cbody + 8:cstop]
            texty = kind == 1 or (kind == 0 and name in MP4_TEXT_ATOMS)
            _add(fields, "mp4:", key, _utf8(value) if texty else None, value)


def ape_items(data):
    """(tag start, tag end, [(key, flags, value)]) of the APEv2 tag at the
    end of data (before an ID3v1 tag), or None without one."""
    end = len(data)
    if end >= 128 and data[end - 128:end - 125] == b"TAG":
        end -= 128
    if end < 32 or data[end - 32:end - 24] != b"APETAGEX":
        return None
    size, count, flags = struct.unpack("<III", data[end - 20:end - 8])
    pos, items = end - size, []
    for _ in range(count):
        length, item_flags = struct.unpack("<II", data[pos:pos + 8])
        zero = data.index(b"\x00", pos + 8)
        value = data[zero + 1:zero + 1 + length]
        if len(value) != length:
            raise ValueError("an APE item runs past its tag")
        items.append((data[pos + 8:zero].decode("ascii"), item_flags, value))
        pos = zero + 1 + length
    return end - size - (32 if flags & 0x80000000 else 0), end, items


def ape_fields(data, fields):
    found = ape_items(data)
    for key, flags, value in found[2] if found else ():
        _add(fields, "ape:", key.upper(), _utf8(value) if (flags >> 1) & 3 == 0 else None, value)


def id3_frames(tag, fields):
    for frame in (tag.values() if tag is not None else ()):
        if hasattr(frame, "text") and hasattr(frame, "encoding"):
            text = "\n".join(str(t) for t in frame.text)
            fields["id3:" + frame.HashKey] = (text, text.encode("utf-8"))
        else:
            fields["id3:" + frame.HashKey] = (None, frame._writeData())


def riff_text_fields(data, fields):
    if data[:4] in (b"RIFF", b"RF64"):
        for cid, body, stop in audio.riff_chunks(data, True):
            if cid == b"LIST" and data[body:body + 4] == b"INFO":
                pos = body + 4
                while pos + 8 <= stop:
                    sub, size = struct.unpack("<4sI", data[pos:pos + 8])
                    _add(fields, "info:", sub.decode("latin-1"), None, data[pos + 8:pos + 8 + size])
                    pos += 8 + size + (size & 1)
    elif data[:4] == b"FORM":
        for cid, body, stop in audio.riff_chunks(data, False):
            if cid in (b"NAME", b"AUTH", b"ANNO", b"(c) "):
                _add(fields, "aiff:", cid.decode("latin-1"), None, data[body:stop])


def _id3_of(path, fmt):
    if fmt == "mp3":
        from mutagen.id3 import ID3, ID3NoHeaderError
        try:
            return ID3(path, load_v1=False)
        except ID3NoHeaderError:
            return None
    from mutagen.aiff import AIFF
    from mutagen.wave import WAVE
    return (WAVE if fmt == "wav" else AIFF)(path).tags


def asf_fields(path, fields):
    for key, values in ASF(path).tags.items():
        for value in values:
            if isinstance(value, ASFUnicodeAttribute):
                _add(fields, "asf:", key, value.value, value.value.encode("utf-16-le"))
            else:
                _add(fields, "asf:", key, None, repr((type(value).__name__, value.value)).encode())


def read_fields(path, fmt):
    """({field id: (text, value bytes)}, problem) of one file."""
    fields, problem = {}, None
    if fmt not in FORMAT_OF_EXTENSION.values():
        return fields, None
    with open(path, "rb") as src:
        data = src.read()
    steps = {"flac": [lambda: flac_fields(data, fields)],
             "ogg": [lambda: ogg_fields(data, fields)], "opus": [lambda: ogg_fields(data, fields)],
             "m4a": [lambda: mp4_fields(data, fields)], "wma": [lambda: asf_fields(path, fields)],
             "ape": [lambda: ape_fields(data, fields)], "wv": [lambda: ape_fields(data, fields)],
             "mp3": [lambda: id3_frames(_id3_of(path, fmt), fields), lambda: ape_fields(data, fields)],
             "wav": [lambda: riff_text_fields(data, fields),
                     lambda: id3_frames(_id3_of(path, fmt), fields)],
             "aiff": [lambda: riff_text_fields(data, fields),
                      lambda: id3_frames(_id3_of(path, fmt), fields)]}[fmt]
    for step in steps:
        try:
            step()
        except Exception as error:  # a broken tag is a figure, not a crash
            problem = problem or "%s: %s" % (type(error).__name__, error)
    return fields, problem


FORMAT_OF_EXTENSION = {".flac": "flac", ".ogg": "ogg", ".oga": "ogg", ".opus": "opus",
                       ".wav": "wav", ".aif": "aiff", ".aiff": "aiff",
                       ".m4a": "m4a", ".mp4": "m4a", ".m4b": "m4a", ".wma": "wma", ".asf": "wma",
                       ".ape": "ape", ".wv": "wv", ".mp3": "mp3"}  # .aifc is not scanned


def format_of(path):
    import os
    return FORMAT_OF_EXTENSION.get(os.path.splitext(path)[1].lower())
