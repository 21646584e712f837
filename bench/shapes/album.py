"""Albums: their folders, their files and the places of every file.

An album is a dict as the manifest keeps it:
  {"folder", "shape", "right", "version", "page", "files": [file, ...]}
and a file
  {"path", "shape", "right", "version", "form", "page", "lang",
   "plain": {frame id: ASCII text}, "places": [place, ...], "id3v1": {...}}
where `plain` are frames that are not measured (track number, year) and
`id3v1`, when present, the title, artist, album, year and track of an ID3v1
tag written in the file's page.
"""
import forms
import shapes
import words
from words import LABEL_CHAPTER, LABEL_COVER, LABEL_LYRICS, LABEL_MOOD, LABEL_NOTE, LABEL_SITE, LABEL_STUDIO

SINGLE_BYTE = ("cp1250", "cp1251", "cp1253", "cp1254", "cp1255")
UNSAFE_IN_NAMES = '/\\:*?"<>|'


def place(frame, field, expected, **extra):
    out = {"frame": frame, "field": field, "expected": expected}
    out.update(extra)
    return out


def safe_name(text, limit=60):
    """Text made fit for a file or folder name on any system."""
    cleaned = "".join(" " if ch in UNSAFE_IN_NAMES else ch for ch in text)
    return " ".join(cleaned.split())[:limit].strip()


def itunes_places(rng, form):
    """The COMM frames a well-known player writes: ASCII, never repaired."""
    norm = " " + " ".join("%08X" % rng.randrange(1 << 16) for _ in range(10))
    smpb = " 00000000 00000210 000007B4 %016X 00000000 %08X" % (
        rng.randrange(1 << 20), rng.randrange(1 << 20)) + " 00000000" * 6
    return [place("COMM", "text", norm, key={"lang": "eng", "desc": "iTunNORM"}, form=form),
            place("COMM", "text", smpb, key={"lang": "eng", "desc": "iTunSMPB"}, form=form)]


def all_places(rng, lang, code):
    """Every other place a text can hide in: descriptions and texts of
    TXXX, COMM, USLT, SYLT, APIC, WXXX, GEOB and the title of a chapter."""
    w = words.WORDS[lang]
    labels, lines = w["labels"], rng.sample(w["titles"], 3)
    return [
        place("TXXX", "desc", labels[LABEL_MOOD]),
        place("TXXX", "value", rng.choice(w["genres"])),
        place("COMM", "desc", labels[LABEL_NOTE], key={"lang": code}),
        place("COMM", "text", labels[LABEL_STUDIO], key={"lang": code}),
        place("USLT", "desc", labels[LABEL_LYRICS], key={"lang": code}),
        place("USLT", "text", "\n".join(lines), key={"lang": code}),
        place("SYLT", "text", "\n".join(lines[:2]), key={"lang": code}),
        place("APIC", "desc", labels[LABEL_COVER], key={"type": 3}),
        place("WXXX", "desc", labels[LABEL_SITE], key={"url": "http://example.com/band"}),
        place("GEOB", "desc", labels[LABEL_NOTE], key={"filename": "notes.txt"}),
        place("CHAP", "TIT2", labels[LABEL_CHAPTER], key={"element_id": "chp1"}),
        place("CHAP", "TIT2", lines[2], key={"element_id": "chp2"}),
    ]


def track_places(text, extras):
    """The places of an ordinary track: title, artist, album, genre, and
    the album artist and a comment where the album has them."""
    out = [place("TIT2", "text", text["title"]), place("TPE1", "text", text["artist"]),
           place("TALB", "text", text["album"]), place("TCON", "text", text["genre"])]
    if "album_artist" in extras:
        out.append(place("TPE2", "text", extras["album_artist"]))
    if "comment" in extras:
        # No description: told apart from the iTunNORM and iTunSMPB comments.
        out.append(place("COMM", "text", extras["comment"], key={"lang": extras["code"], "desc": ""}))
    return out


def with_id3v1(file, text):
    """Moves the artist and album of a file to an ID3v1 tag in its page: the
    ID3v2 tag lacks them, and a repair must bring them back from there."""
    page = file["page"]
    v1 = {"year": file["plain"]["TDRC"], "track": int(file["plain"]["TRCK"].split("/")[0])}
    for field in ("title", "artist", "album"):
        v1[field] = text[field].encode(page)[:30].rstrip(b" ").decode(page)
    file["id3v1"] = v1
    for p in file["places"]:
        if p["frame"] in ("TPE1", "TALB"):
            p["expected"] = v1["artist" if p["frame"] == "TPE1" else "album"]
            p["from"] = "id3v1"


def new_file(folder, number, count, title, setting):
    form, version, lang, shape, year = setting
    return {
        "path": "%s/%02d %s.mp3" % (folder, number, safe_name(title)),
        "shape": shape, "right": form.startswith("right-"),
        "version": version, "form": form, "page": words.PAGES[lang], "lang": lang,
        "plain": {"TRCK": "%d/%d" % (number, count), "TDRC": str(year)},
        "places": [],
    }


def album_text(rng, lang, tracks, shape=""):
    """Artist, album, genre and `tracks` distinct titles in one language."""
    w = words.WORDS[lang]
    titles = words.PUNCTUATION_TITLES if shape == "right-punctuation" else w["titles"]
    return {"artist": rng.choice(w["artists"]), "album": rng.choice(w["albums"]),
            "genre": rng.choice(w["genres"]), "titles": rng.sample(titles, min(tracks, len(titles)))}


def _extras(rng, shape, index, lang, artist):
    extras = {"code": shapes.LANGUAGE_CODES[lang]}
    if rng.random() < 0.5:
        extras["album_artist"] = artist
    if rng.random() < 0.35 and shape != "places":  # places has a comment of its own
        extras["comment"] = rng.choice(words.WORDS[lang]["labels"])
    extras["itunes"] = shape == "right-itunes" or index % 4 == 3
    extras["id3v1"] = shape == "latin1-legacy" and index % 3 == 1
    return extras


def _finish_file(rng, file, text, extras, shape):
    if extras["itunes"]:
        file["places"] += itunes_places(rng, "right-latin1" if file["version"] == 3 else "right-utf16")
    if shape == "right-itunes":
        file["places"].append(place("TLAN", "text", extras["code"]))
    if shape == "places":
        file["places"] += all_places(rng, file["lang"], extras["code"])
    odd_track = int(file["plain"]["TRCK"].split("/")[0]) % 2 == 1
    if extras["id3v1"] and file["page"] in SINGLE_BYTE and odd_track:
        with_id3v1(file, text)


def plain_album(rng, number, shape, index, tracks=None):
    """An album of one artist in one language and one form, of `tracks`
    tracks (3 to 12 when not given)."""
    form, version, lang = shapes.album_setting(rng, shape, index)
    text = album_text(rng, lang, tracks or rng.randint(3, 12), shape)
    folder = "%03d %s" % (number, safe_name(text["artist"] + " - " + text["album"]))
    extras = _extras(rng, shape, index, lang, text["artist"])
    year, files = rng.randint(1965, 2024), []
    for n, title in enumerate(text["titles"], 1):
        file = new_file(folder, n, len(text["titles"]), title, (form, version, lang, shape, year))
        track_text = dict(text, title=title)
        file["places"] = track_places(track_text, extras)
        _finish_file(rng, file, track_text, extras, shape)
        files.append(file)
    return finish_album(folder, shape, version, words.PAGES[lang], files)


def reads_right(file):
    """Whether every place of a file already reads as expected: text made
    only of letters that the page and Latin-1 share ("Örökké" in cp1250)."""
    for p in file["places"]:
        form = p.get("form", file["form"])
        if p.get("from") == "id3v1" or forms.store(form, file["page"], p["expected"]) != p["expected"]:
            return False
    return True


def finish_album(folder, shape, version, page, files):
    for file in files:
        file["right"] = reads_right(file)
    return {"folder": folder, "shape": shape, "right": all(f["right"] for f in files),
            "version": version, "page": page, "files": files}
