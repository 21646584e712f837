"""Places of a tag: writing them as mutagen frames and reading them back.

A place is one text of a tag, as the manifest lists it:
  {"frame": "COMM", "key": {"lang": "rus"}, "field": "text", "expected": "..."}
`frame` is the ID3v2 frame id, `field` the text in it (text, desc, value,
or TIT2 for a chapter's embedded title), `key` the attributes that tell
frames of one id apart and that no repair changes (language, picture type,
URL, file name, chapter id, or an ASCII description), `expected` the text a
user expects after the repair. Optional: `form` (how it is stored, when not
the file's own) and `from` ("id3v1": held by the ID3v1 tag only).
SYLT text is its lines joined by newlines.
"""
import json

from mutagen.id3 import (APIC, CHAP, COMM, CTOC, GEOB, SYLT, TXXX, USLT, WXXX,
                         CTOCFlags, Frames)

import forms
import mpeg

SIMPLE_TEXT = ("TIT2", "TPE1", "TALB", "TPE2", "TCON", "TLAN", "TRCK", "TDRC")
_PNG = mpeg.tiny_png()


def group_key(place):
    return place["frame"], json.dumps(place.get("key", {}), sort_keys=True)


def groups(places):
    """Places grouped by the frame that holds them, in order of first use."""
    out = {}
    for place in places:
        if place.get("from") == "id3v1":
            continue
        out.setdefault(group_key(place), []).append(place)
    return list(out.values())


def _stored(place, file_form, page):
    form = place.get("form", file_form)
    if place["frame"] == "SYLT":
        return [forms.store(form, page, line) for line in place["expected"].split("\n")]
    return forms.store(form, page, place["expected"])


def _encoding(group, file_form):
    return forms.encoding(group[0].get("form", file_form))


def build_frame(group, file_form, page):
    """The mutagen frame holding one group of places, stored in its form."""
    frame_id = group[0]["frame"]
    key = dict(group[0].get("key", {}))
    fields = {p["field"]: _stored(p, file_form, page) for p in group}
    enc = _encoding(group, file_form)
    if frame_id in SIMPLE_TEXT:
        return Frames[frame_id](encoding=enc, text=[fields["text"]])
    desc = fields.get("desc", key.get("desc", ""))
    if frame_id == "TXXX":
        return TXXX(encoding=enc, desc=desc, text=[fields.get("value", "")])
    if frame_id in ("COMM", "USLT"):
        kind = COMM if frame_id == "COMM" else USLT
        return kind(encoding=enc, lang=key.get("lang", "eng"), desc=desc, text=fields.get("text", ""))
    if frame_id == "SYLT":
        lines = [(line, 2000 * n) for n, line in enumerate(fields["text"])]
        return SYLT(encoding=enc, lang=key.get("lang", "eng"), format=2, type=1, desc="", text=lines)
    if frame_id == "APIC":
        return APIC(encoding=enc, mime="image/png", type=key.get("type", 3), desc=desc, data=_PNG)
    if frame_id == "WXXX":
        return WXXX(encoding=enc, desc=desc, url=key["url"])
    if frame_id == "GEOB":
        return GEOB(encoding=enc, mime="text/plain", filename=key["filename"], desc=desc,
                    data=b"liner notes\n")
    if frame_id == "CHAP":
        title = Frames["TIT2"](encoding=enc, text=[fields["TIT2"]])
        return CHAP(element_id=key["element_id"], start_time=0, end_time=1000,
                    start_offset=0xFFFFFFFF, end_offset=0xFFFFFFFF, sub_frames=[title])
    raise ValueError("no writer for frame " + frame_id)


def table_of_contents(chapter_ids):
    """The CTOC frame listing the chapters, so that players show them."""
    return CTOC(element_id="toc", flags=CTOCFlags.TOP_LEVEL | CTOCFlags.ORDERED,
                child_element_ids=list(chapter_ids), sub_frames=[])


def _matches(frame, key):
    for name, want in key.items():
        if getattr(frame, name, None) != want:
            return False
    return True


def locate(tag, place):
    """The frame of a tag that holds a place; None when there is none, or
    when several could be it (a tag with a frame twice is no right tag)."""
    key = place.get("key", {})
    found = [f for f in tag.getall(place["frame"]) if _matches(f, key)]
    if len(found) > 1 and place["field"] == "desc":
        found = [f for f in found if f.desc == place["expected"]]
    return found[0] if len(found) == 1 else None


def _joined(texts):
    return "\0".join(str(t) for t in texts)


def read_value(frame, field):
    """The text of one field of a mutagen frame, as a user sees it."""
    if field == "desc":
        return frame.desc
    if field == "TIT2":
        titles = frame.sub_frames.getall("TIT2")
        return _joined(titles[0].text) if titles else None
    if frame.FrameID == "SYLT":
        return "\n".join(text for text, _ in frame.text)
    if frame.FrameID == "USLT":
        return frame.text
    return _joined(frame.text)


def read_place(tag, place):
    """The text a place reads as in a tag (None when its frame is missing)."""
    if tag is None:
        return None
    frame = locate(tag, place)
    if frame is None:
        return None
    return read_value(frame, place["field"])
