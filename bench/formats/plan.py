"""The plan of the mixed-format library: which albums it holds, in which
format, language and shape, and how each shape stores a text.

Shapes of the UTF-8 containers (FLAC, Ogg, Opus, MP4, APE, WavPack):
  raw-page             code-page bytes written raw (not valid UTF-8)
  page-as-cp1252-utf8  code-page bytes read as cp1252, saved as UTF-8
  utf8-twice           UTF-8 read as cp1252 and encoded as UTF-8 again
  per-track            the three above in turn, track by track
  right-utf8           right text
ASF: widened-latin1, widened-cp1252 (code-page bytes widened into UTF-16),
  utf8-widened (UTF-8 bytes widened), right-utf16.
WAV: info-page (LIST/INFO in the page, no ID3 chunk), info-page+id3-latin1
  (and an ID3 chunk of Latin-1 frames holding the page's bytes),
  right-id3-utf16 (right ID3 chunk, INFO in cp1252), right-info-ascii.
AIFF: id3-latin1, right-id3-utf16. MP3 with an APEv2 tag appended:
  id3-latin1+ape-raw-page, right-id3-utf16+ape-utf8.
"mixed" folders hold one track of each wrong shape of several formats.
"""
import os
import sys

# forms and words of bench/shapes; appended, so that this folder's own
# score.py comes before the one there
sys.path.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "shapes"))

import forms  # noqa: E402
import words  # noqa: E402

UTF8_FORMATS = ("flac", "ogg", "opus", "m4a", "ape", "wv")
LEGACY = ("ru", "pl", "el", "uk", "cs", "bg")
RAW = ("ru", "pl", "el", "de", "uk", "cs", "fr", "bg", "ja")
TWICE = ("ru", "de", "el", "fr", "pl", "ja")
RIGHT = ("de", "ru", "fr", "el", "pl", "ja", "es", "en")
WESTERN_RIGHT = ("de", "fr", "es", "sv", "en")

SHAPES = {}
for _fmt in UTF8_FORMATS:
    SHAPES[_fmt] = {"raw-page": RAW, "page-as-cp1252-utf8": LEGACY, "utf8-twice": TWICE,
                    "per-track": LEGACY, "right-utf8": RIGHT}
SHAPES["wma"] = {"widened-latin1": LEGACY, "widened-cp1252": LEGACY, "utf8-widened": TWICE,
                 "right-utf16": RIGHT}
SHAPES["wav"] = {"info-page": LEGACY, "info-page+id3-latin1": LEGACY,
                 "right-id3-utf16": WESTERN_RIGHT, "right-info-ascii": ("en",)}
SHAPES["aiff"] = {"id3-latin1": LEGACY, "right-id3-utf16": RIGHT}
SHAPES["mp3"] = {"id3-latin1+ape-raw-page": LEGACY, "right-id3-utf16+ape-utf8": RIGHT}
PER_TRACK = ("raw-page", "page-as-cp1252-utf8", "utf8-twice")
MIXED = ("flac", "ogg", "m4a", "wma", "wav", "aiff", "wv", "opus", "mp3", "ape")


def is_right(shape):
    return shape.startswith("right")


def kinds():
    """(format, shape) of every kind of album, the mixed folder last."""
    return [(fmt, shape) for fmt in SHAPES for shape in SHAPES[fmt]] + [("mixed", "mixed")]


def utf8_stored(shape, page, text):
    """The bytes a UTF-8 field of this shape holds for the right text."""
    if shape == "raw-page":
        return text.encode(page)
    if shape == "page-as-cp1252-utf8":
        return forms.store("legacy-utf8-cp1252", page, text).encode("utf-8")
    if shape == "utf8-twice":
        return forms.store("utf8-twice", page, text).encode("utf-8")
    return text.encode("utf-8")


def wide_stored(shape, page, text):
    """The characters an ASF (UTF-16) field of this shape holds."""
    form = {"widened-latin1": "legacy-widened-latin1", "widened-cp1252": "legacy-widened-cp1252",
            "utf8-widened": "utf8-in-latin1"}.get(shape)
    return forms.store(form, page, text) if form else text


def fits(shape, page, text):
    """Whether text can be stored in the shape and tells wrong from right."""
    try:
        if shape == "raw-page":
            data = text.encode(page)
            try:
                data.decode("utf-8")
                return False  # valid UTF-8 by chance: no longer raw bytes
            except UnicodeDecodeError:
                return True
        if shape in ("page-as-cp1252-utf8", "widened-latin1", "widened-cp1252", "info-page",
                     "info-page+id3-latin1", "id3-latin1", "id3-latin1+ape-raw-page"):
            data = text.encode(page)
            return any(b >= 0x80 for b in data) and (shape != "id3-latin1+ape-raw-page" or
                                                     fits("raw-page", page, text))
        if shape in ("utf8-twice", "utf8-widened"):
            return any(ord(c) >= 0x80 for c in text)
        if shape == "right-info-ascii":
            text.encode("ascii")
        if shape == "right-id3-utf16" and page == "cp1252":
            text.encode("cp1252")
        return True
    except UnicodeError:
        return False


def pick(rng, lang, field, shape, taken=()):
    """A text of the language's word list that fits the shape."""
    page = words.PAGES[lang]
    options = [t for t in words.WORDS[lang][field] if fits(shape, page, t) and t not in taken]
    if not options:  # a field that cannot show the shape (ASCII genres) stays right
        options = [t for t in words.WORDS[lang][field]
                   if t not in taken and (shape != "right-info-ascii" or t.isascii())]
    return rng.choice(options)
