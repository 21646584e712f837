#!/usr/bin/env python3
"""Makes a music library whose file and folder names a legacy writer left in
code pages, for measuring --rename end to end.

  bench/names/make-library.py [--seed N] [--albums N] [--widen] OUTPUT_FOLDER

Albums are folders "Artist - Album" (some nested as "Artist/Album (Year)")
holding "NN - Title.mp3" files. Each album has one shape for its names:
raw cp1251, cp1250, cp1253 or cp866 bytes (with tags in the same page, or
with ASCII tags or none, so that the names decide alone), UTF-8 encoded
twice, right UTF-8, or ASCII. Playlists and cue sheets of every kind sit in
album, artist and top folders, in the albums' pages or UTF-8, naming tracks
by plain, backslashed, absolute and file:// paths. Three collision groups
and one name whose UTF-8 form is 337 bytes must be left as they are.

With --widen, legacy names are stored as Windows shows them when an
archive tool or a copy read their bytes as Windows-1252 ("Ïåñíÿ" for
"Песня"), for measuring the Windows build under Wine.

OUTPUT_FOLDER/../names-manifest.json (beside the library, so that the run
never sees it) gives each entry's name as made and as it should end.
"""
import argparse
import json
import os
import random
import sys
import urllib.parse

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import titles  # noqa: E402

# Album shapes: (language, how names are stored, how tags are stored), and
# how many albums of each in 42.
SHAPES = {
    "cp1251": ("ru", "cp1251", "page", 7), "cp1251-bare": ("ru", "cp1251", "bare", 2),
    "cp1250": ("cz", "cp1250", "page", 6), "cp1250-bare": ("cz", "cp1250", "bare", 2),
    "cp1253": ("gr", "cp1253", "page", 5), "cp1253-bare": ("gr", "cp1253", "bare", 1),
    "cp866": ("ru", "cp866", "bare", 4),
    "double-ru": ("ru", "double-cp1251", "utf8", 3), "double-cz": ("cz", "double-cp1252", "utf8", 2),
    "double-gr": ("gr", "double-cp1252", "page", 2),
    "utf8-ru": ("ru", "utf8", "utf8", 2), "utf8-gr": ("gr", "utf8", "utf8", 1),
    "utf8-we": ("we", "utf8", "utf8", 2), "ascii": ("en", "ascii", "ascii", 3),
}
TAG_PAGE = {"ru": "cp1251", "cz": "cp1250", "gr": "cp1253", "we": "cp1252", "en": "ascii"}


def read_through(data, page):
    """Bytes as a code page shows them (a byte it leaves undefined as
    Latin-1 does), the way UTF-8 comes to be encoded twice."""
    out = []
    for b in data:
        try:
            out.append(bytes([b]).decode(page))
        except UnicodeDecodeError:
            out.append(chr(b))
    return "".join(out)


def is_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def stored(text, how):
    """The bytes a name `text` is stored as."""
    if how.startswith("double-"):
        return read_through(text.encode("utf-8"), how[7:]).encode("utf-8")
    if how in ("utf8", "ascii"):
        return text.encode("utf-8")
    return text.encode(how)


def frame(frame_id, text, tags):
    if tags == "utf8":
        data = b"\x03" + text.encode("utf-8")
    else:
        data = b"\x00" + text.encode(tags)
    size = len(data)
    if tags == "utf8":  # ID3v2.4 sizes are syncsafe
        size = (size & 0x7F) | ((size >> 7) & 0x7F) << 8 | ((size >> 14) & 0x7F) << 16
    return frame_id.encode() + size.to_bytes(4, "big") + b"\x00\x00" + data


def mp3(rng, fields, tags):
    """A small MP3 file: an ID3v2 tag of `fields` stored as `tags` says (a
    page, "utf8", or None for no tag) and MPEG frames of its own."""
    mpeg = b"".join(b"\xFF\xFB\x90\x00" + bytes(32) + rng.randbytes(381) for _ in range(12))
    if tags is None:
        return mpeg
    frames = b"".join(frame(fid, text, tags) for fid, text in fields)
    size = len(frames) + 128
    syncsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b"ID3" + (b"\x04" if tags == "utf8" else b"\x03") + b"\x00\x00" + syncsafe + frames + \
        bytes(128) + mpeg


class Library:
    def __init__(self, root, rng):
        self.root, self.rng = os.fsencode(root), rng
        self.widen = False  # legacy names as Windows shows them (see --widen)
        self.entries = []    # {path, expect, kind, shape, left}
        self.playlists = []  # {path, expect, format, targets}

    def add(self, parent, name_bytes, expect_bytes, kind, shape, left=None):
        """Records an entry below `parent` (an entry or None for the top)."""
        if self.widen and not is_utf8(name_bytes):
            name_bytes = read_through(name_bytes, "cp1252").encode("utf-8")
            expect_bytes = name_bytes if left else expect_bytes
        path = name_bytes if parent is None else parent["path"] + b"/" + name_bytes
        expect = expect_bytes if parent is None else parent["expect"] + b"/" + expect_bytes
        entry = {"path": path, "expect": expect, "kind": kind, "shape": shape, "left": left}
        self.entries.append(entry)
        full = os.path.join(self.root, path)
        if kind == "folder":
            os.makedirs(full)
        return entry

    def write(self, entry, data):
        with open(os.path.join(self.root, entry["path"]), "wb") as out:
            out.write(data)


def pick(rng, items, count):
    return rng.sample(items, min(count, len(items)))


def make_album(lib, kind, number, nested, artist, album, plain=False):
    rng = lib.rng
    lang, how, tagging, _ = SHAPES[kind]
    words = titles.LANGUAGES[lang]
    tags = {"page": TAG_PAGE[lang], "utf8": "utf8", "ascii": "ascii"}.get(tagging)
    if tagging == "bare":
        tags = rng.choice([None, "ascii"])
    if nested:
        top = lib.add(None, stored(artist, how), artist.encode(), "folder", kind)
        name = "%s (%d)" % (album, 1975 + number)
        folder = lib.add(top, stored(name, how), name.encode(), "folder", kind)
    else:
        top = None
        name = "%s - %s" % (artist, album)
        folder = lib.add(None, stored(name, how), name.encode(), "folder", kind)
    tracks = []
    discs = None
    if rng.random() < 0.1 and not plain:  # two discs, in folders of ASCII names
        discs = [lib.add(folder, b"CD%d" % d, b"CD%d" % d, "folder", kind) for d in (1, 2)]
    for n, title in enumerate(pick(rng, words["titles"], rng.randint(3, 8)), 1):
        name = "%02d - %s.mp3" % (n, title)
        inside = folder if discs is None else discs[n % 2]
        track = lib.add(inside, stored(name, how), name.encode(), "file", kind)
        fields = [("TIT2", title), ("TPE1", artist), ("TALB", album), ("TRCK", str(n))]
        if tags == "ascii":
            fields = [("TIT2", "Track %02d" % n), ("TRCK", str(n))]
        lib.write(track, mp3(rng, fields, tags))
        track.update(title=title, artist=artist)
        tracks.append(track)
    return {"kind": kind, "how": how, "lang": lang, "tags": tags, "top": top, "folder": folder,
            "discs": discs is not None,
            "tracks": tracks, "artist": artist, "album": album}


def add_collisions(lib, albums):
    """A right twin beside a legacy name, two shapes of one name side by
    side, and a legacy folder beside its right twin: each left as it is."""
    rng = lib.rng
    russian = [a for a in albums if a["kind"] == "cp1251" and a["top"] is None and not a["discs"]]
    twin, pair = russian[0], russian[1]
    track = rng.choice(twin["tracks"])
    right = lib.add(twin["folder"], track["expect"].rsplit(b"/", 1)[1],
                    track["expect"].rsplit(b"/", 1)[1], "file", "utf8-ru")
    lib.write(right, mp3(rng, [("TIT2", track["title"])], "utf8"))
    track["left"] = "right twin"
    track["expect"] = track["path"].replace(twin["folder"]["path"], twin["folder"]["expect"], 1)
    track = rng.choice(pair["tracks"])
    text = track["expect"].rsplit(b"/", 1)[1].decode()
    other = lib.add(pair["folder"], stored(text, "double-cp1251"), stored(text, "double-cp1251"),
                    "file", "double-ru", left="same name")
    lib.write(other, mp3(rng, [("TIT2", track["title"])], "cp1251"))
    track["left"] = "same name"
    track["expect"] = track["path"].replace(pair["folder"]["path"], pair["folder"]["expect"], 1)
    # A folder that reads as a right folder beside it.
    words = titles.RUSSIAN
    name = "%s - %s" % (rng.choice(words["artists"]), "Лучшее")
    right = lib.add(None, name.encode(), name.encode(), "folder", "utf8-ru")
    legacy = lib.add(None, name.encode("cp1251"), name.encode("cp1251"), "folder", "cp1251",
                     left="right twin")
    for folder, how, page in ((right, "utf8", "utf8"), (legacy, "cp1251", "cp1251")):
        for n, title in enumerate(pick(rng, words["titles"], 3), 1):
            file = "%02d - %s.mp3" % (n, title)
            track = lib.add(folder, stored(file, how), file.encode(), "file", "cp1251")
            lib.write(track, mp3(rng, [("TIT2", title), ("TALB", "Лучшее")], page))


def add_long_name(lib, albums):
    """A track whose name is 174 bytes in cp1251 and 337 in UTF-8."""
    album = next(a for a in albums if a["kind"] == "cp1251" and a["top"] is None and not a["discs"])
    text = "Баллада о том, как мы шли по дороге домой и пели песню о реке, о небе, о ветре"
    head, tail = "99 - ", ".mp3"
    while len((head + text + tail).encode()) < 337:
        text += " и снова о доме" if len((head + text + tail).encode()) < 300 else "ю"
    while len((head + text + tail).encode()) > 337:
        text = text[:-1]
    if len((head + text + tail).encode()) == 336:
        text = text[:-1] + "ок"
    name = head + text + tail
    assert len(name.encode()) == 337, len(name.encode())
    track = lib.add(album["folder"], name.encode("cp1251"), name.encode("cp1251"), "file", "cp1251",
                    left="too long")
    track["expect"] = track["path"].replace(album["folder"]["path"], album["folder"]["expect"], 1)
    lib.write(track, mp3(lib.rng, [("TIT2", text[:60])], "cp1251"))


def entry_bytes(lib, playlist_folder, track, enc, form):
    """How a playlist in `enc` at `playlist_folder` (an entry or None) names
    `track`: each step the text it should read as, written in `enc`."""
    base = b"" if playlist_folder is None else playlist_folder["expect"] + b"/"
    if lib.widen and form in ("absolute", "url"):
        form = "plain"  # a POSIX root names nothing on Windows
    if form in ("up", "upback"):
        base, rel = b"", b"../" + track["expect"]
    else:
        rel = track["expect"][len(base):] if form not in ("absolute", "url") else track["expect"]
    steps = [stored(step.decode(), enc) for step in rel.split(b"/")]
    if form == "absolute":
        return os.fsencode(os.path.abspath(lib.root)) + b"/" + b"/".join(steps)
    if form == "url":
        path = os.fsencode(os.path.abspath(lib.root)) + b"/" + b"/".join(steps)
        return b"file://" + urllib.parse.quote(path, safe="/").encode()
    slash = b"\\" if form in ("backslash", "upback") else b"/"
    return (b"./" if form == "dotslash" else b"") + slash.join(steps)


def render(kind, items, enc, album, artist):
    """The lines of a playlist of `kind`: `items` are (entry bytes, title)."""
    text = lambda s: stored(s, enc)  # noqa: E731
    if kind in ("m3u", "m3u8"):
        lines = [b"#EXTM3U"]
        for entry, title in items:
            lines += [b"#EXTINF:%d," % (180 + len(title)) + text(artist + " - " + title), entry]
    elif kind == "pls":
        lines = [b"[playlist]"]
        for n, (entry, title) in enumerate(items, 1):
            lines += [b"File%d=" % n + entry, b"Title%d=" % n + text(title), b"Length%d=200" % n]
        lines += [b"NumberOfEntries=%d" % len(items), b"Version=2"]
    else:
        lines = [b'PERFORMER "' + text(artist) + b'"', b'TITLE "' + text(album) + b'"']
        for n, (entry, title) in enumerate(items, 1):
            lines += [b'FILE "' + entry + b'" MP3', b"  TRACK %02d AUDIO" % n,
                      b'    TITLE "' + text(title) + b'"', b"    INDEX 01 00:00:00"]
    return lines


def add_playlist(lib, folder, name_text, name_how, kind, enc, tracks, form, album, artist):
    rng = lib.rng
    name = name_text + "." + kind
    entry = lib.add(folder, stored(name, name_how), name.encode(), "playlist", name_how)
    items = [(entry_bytes(lib, folder, t, enc, form), t.get("title", "")) for t in tracks]
    lines = render(kind, items, enc, album, artist)
    legacy = not enc.startswith("double") and enc not in ("utf8", "ascii")
    breaks = b"\r\n" if legacy or rng.random() < 0.4 else b"\n"
    mark = b"\xEF\xBB\xBF" if not legacy and kind in ("m3u", "cue") and rng.random() < 0.5 else b""
    lib.write(entry, mark + breaks.join(lines) + breaks)
    lib.playlists.append({"path": entry["path"], "expect": entry["expect"], "format": kind,
                          "encoding": enc, "form": form, "targets": [t["path"] for t in tracks]})


def playlist_encoding(rng, album, kind):
    how = album["how"]
    if how == "cp866":
        return rng.choice(["cp1251", "utf8"])
    if how in ("utf8", "ascii"):
        return "utf8"
    if how.startswith("double"):
        return how if rng.random() < 0.6 else "utf8"
    if kind == "m3u8":
        return rng.choice([how, "utf8"])
    return how if rng.random() < 0.75 else "utf8"


def add_album_playlists(lib, albums):
    rng = lib.rng
    kinds = ["m3u", "m3u8", "pls", "cue"]
    for n, album in enumerate(albums):
        if rng.random() < 0.15:
            continue
        kind = kinds[n % 4]
        enc = playlist_encoding(rng, album, kind)
        tracks = [t for t in album["tracks"] if "left" not in t or t["left"] is None]
        if album["top"] is not None and rng.random() < 0.6:
            folder, form = album["top"], rng.choice(["plain", "backslash"])
        else:
            folder = album["folder"]
            form = rng.choices(["plain", "dotslash", "absolute", "url"], [6, 2, 2, 1])[0]
        name = album["album"] if kind == "cue" else "%s - %s" % (album["artist"], album["album"])
        add_playlist(lib, folder, name, album["how"], kind, enc, tracks, form, album["album"],
                     album["artist"])


ROOT_NAMES = {"ru": ["Избранное", "Для дороги", "Вечерний плейлист", "Лучшие песни"],
              "cz": ["Oblíbené písně", "Na cestu", "Ulubione", "Ścieżka dźwiękowa"],
              "gr": ["Αγαπημένα", "Για το δρόμο", "Βραδινά τραγούδια", "Καλύτερα"]}


def add_top_playlists(lib, albums, count):
    rng = lib.rng
    root_lang = rng.choice(["ru", "cz", "gr"])
    for n in range(count):
        lang = rng.choice(["ru", "cz", "gr"])
        chosen = [a for a in albums if a["lang"] == lang] + [a for a in albums if a["lang"] == "en"]
        chosen = pick(rng, chosen, 3)
        tracks = [t for a in chosen for t in pick(rng, [t for t in a["tracks"] if not t.get("left")], 2)]
        kind = ["m3u", "pls", "cue", "m3u8"][n % 4]
        enc = TAG_PAGE[lang] if kind != "m3u8" and rng.random() < 0.6 else "utf8"
        form = rng.choices(["plain", "backslash", "absolute", "url"], [4, 3, 2, 1])[0]
        if lang == root_lang and n < 8:
            name, how = "%s %d" % (ROOT_NAMES[lang][n % 4], n + 1), TAG_PAGE[lang]
        else:
            name, how = ("Mix %d" % (n + 1), "ascii") if n % 2 else (
                "%s %d" % (ROOT_NAMES[lang][n % 4], n + 1), "utf8")
        add_playlist(lib, None, name, how, kind, enc, tracks, form, name, "Various")


def add_playlist_folder(lib, albums):
    """A folder of playlists beside the albums, naming them through "..",
    with slashes or backslashes, in one page or UTF-8."""
    rng = lib.rng
    lang = rng.choice(["ru", "cz", "gr"])
    folder = lib.add(None, b"Playlists", b"Playlists", "folder", "ascii")
    for n, kind in enumerate(["m3u", "m3u8", "pls", "cue"]):
        chosen = pick(rng, [a for a in albums if a["lang"] in (lang, "en")], 2)
        tracks = [t for a in chosen for t in pick(rng, [t for t in a["tracks"] if not t.get("left")], 3)]
        enc = TAG_PAGE[lang] if kind != "m3u8" else "utf8"
        name = "%s %d" % (ROOT_NAMES[lang][n], n + 1)
        add_playlist(lib, folder, name, enc, kind, enc, tracks, rng.choice(["up", "upback"]),
                     name, "Various")


def add_unsorted(lib):
    """A folder of loose tracks "Artist - Title.mp3" gathered from several
    machines: each name and tag in its own page."""
    rng = lib.rng
    folder = lib.add(None, b"Unsorted", b"Unsorted", "folder", "mixed")
    for lang in ["ru", "cz", "gr", "ru", "cz", "gr"]:
        words = titles.LANGUAGES[lang]
        artist, title = rng.choice(words["artists"]), rng.choice(words["titles"])
        name = "%s - %s.mp3" % (artist, title)
        if any(e["expect"] == b"Unsorted/" + name.encode() for e in lib.entries):
            continue
        track = lib.add(folder, stored(name, TAG_PAGE[lang]), name.encode(), "file", "mixed")
        lib.write(track, mp3(rng, [("TIT2", title), ("TPE1", artist)], TAG_PAGE[lang]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--albums", type=int, default=42)
    parser.add_argument("--top-playlists", type=int, default=10)
    parser.add_argument("--widen", action="store_true",
                        help="legacy names as Windows shows them: each byte read as Windows-1252 "
                        "and stored as UTF-8 (what Wine gives a Windows program as UTF-16)")
    parser.add_argument("output")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    os.makedirs(args.output)
    lib = Library(args.output, rng)
    lib.widen = args.widen
    kinds = [k for k, shape in SHAPES.items() for _ in range(shape[3])]
    while len(kinds) < args.albums:
        kinds.append(rng.choice(list(SHAPES)))
    kinds = kinds[:args.albums]
    rng.shuffle(kinds)
    albums = []
    used = set()
    for n, kind in enumerate(kinds):
        words = titles.LANGUAGES[SHAPES[kind][0]]
        # The first two cp1251 albums hold the collisions and the long name.
        plain = kind == "cp1251" and sum(a["kind"] == "cp1251" for a in albums) < 2
        nested = rng.random() < 0.25 and not plain
        while True:  # no two folders at the top read as one
            artist, album = rng.choice(words["artists"]), rng.choice(words["albums"])
            top = artist if nested else "%s - %s" % (artist, album)
            if top not in used:
                break
        used.add(top)
        albums.append(make_album(lib, kind, n, nested, artist, album, plain))
    add_collisions(lib, albums)
    if not args.widen:  # its widened UTF-8 form is longer than a POSIX name may be
        add_long_name(lib, albums)
    add_album_playlists(lib, albums)
    add_top_playlists(lib, albums, args.top_playlists)
    add_playlist_folder(lib, albums)
    add_unsorted(lib)
    manifest = {"seed": args.seed, "root": os.path.abspath(args.output),
                "entries": [{k: os.fsdecode(v) if isinstance(v, bytes) else v
                             for k, v in e.items() if k in ("path", "expect", "kind", "shape", "left")}
                            for e in lib.entries],
                "playlists": [{k: os.fsdecode(v) if isinstance(v, bytes) else
                               [os.fsdecode(t) for t in v] if isinstance(v, list) else v
                               for k, v in p.items()} for p in lib.playlists]}
    out = os.path.join(os.path.dirname(os.path.abspath(args.output)), "names-manifest.json")
    with open(out, "w") as f:
        json.dump(manifest, f, indent=1)
    print("%d entries (%d playlists) in %s" % (len(lib.entries), len(lib.playlists), args.output))


if __name__ == "__main__":
    main()
