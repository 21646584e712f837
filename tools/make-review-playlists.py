#!/usr/bin/env python3
"""A review library of playlists and cue sheets beside files with legacy
names, and the check of their entries before and after a run.

  tools/make-review-playlists.py make FOLDER
  tools/make-review-playlists.py check FOLDER

`make` writes album folders of cp1251, cp1253, cp866 and cp850 text (POSIX
only: the names are code-page bytes). Each album holds small MP3 files (tags
in the page's Windows sibling: DOS-era players wrote none), a name whose
repaired form an entry already has, a name whose repaired form is over 255
bytes, and an .m3u, a .pls and a .cue naming every file. It records in
FOLDER/.review which entries resolve and which titles each list holds.

`check` prints, after a run over FOLDER, how many lists were converted (every
title reads as it should, as UTF-8) and how many entries that resolved before
stop resolving now.
"""
import json
import os
import sys

ALBUMS = {
    "cp1251": ("Кино", ["Группа крови", "Закрой за мной дверь", "Звезда по имени Солнце",
                        "Вспомогательный", "Пачка сигарет"]),
    "cp1253": ("Χατζιδάκις", ["Καλημέρα κόσμε", "Σαν σήμερα", "Τα παιδιά του Πειραιά",
                              "Ο κήπος", "Καθρέφτης"]),
    "cp866": ("Аквариум", ["Вспомогательный", "Город золотой", "Поезд в огне", "Под небом",
                           "Сидя на красивом холме"]),
    "cp850": ("Françoise", ["Été à côté", "Déjà vu à Noël", "Où es-tu, Hélène",
                            "Éléphant rosé", "Ça ira"]),
}
SIBLING = {"cp1251": "cp1251", "cp1253": "cp1253", "cp866": "cp1251", "cp850": "cp1252"}
COPIES = 5  # albums per page: 4 pages x 5 albums x 3 lists = 60 lists


def frame(frame_id, text_bytes):
    data = b"\x00" + text_bytes
    return frame_id.encode() + len(data).to_bytes(4, "big") + b"\x00\x00" + data


def mp3(title, artist, page):
    frames = frame("TIT2", title.encode(page)) + frame("TPE1", artist.encode(page))
    size = len(frames) + 128
    syncsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b"ID3\x03\x00\x00" + syncsafe + frames + b"\x00" * 128 + \
        (b"\xFF\xFB\x90\x00" + b"\x00" * 413) * 4


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def long_title(title):
    """Over 255 bytes as UTF-8, under 255 as the page's bytes."""
    text = title
    while len((text + " " + title).encode("utf-8")) <= 300:
        text += " " + title
    return text[:240]


def album(root, page, copy, record):
    artist, songs = ALBUMS[page]
    sibling = SIBLING[page]
    folder = os.path.join(root, ("%s %s %d" % (page, artist, copy)).encode("ascii", "replace")
                          .replace(b"?", b"_"))
    titles = list(songs)
    titles[-1] = long_title(songs[-1])
    names = [("%02d %s.mp3" % (n, t)).encode(page) for n, t in enumerate(titles, 1)]
    for name, title in zip(names, titles):
        write(os.path.join(folder, name), mp3(title[:60], artist, sibling))
    # The second file's repaired name is already taken.
    write(os.path.join(folder, names[1].decode(page).encode("utf-8")), mp3(titles[1], artist, sibling))
    m3u = b"#EXTM3U\r\n"
    pls = b"[playlist]\r\n"
    cue = b'PERFORMER "' + artist.encode(page) + b'"\r\nTITLE "' + artist.encode(page) + b'"\r\n'
    for n, (name, title) in enumerate(zip(names, titles), 1):
        shown = title[:60].encode(page)
        m3u += b"#EXTINF:60," + artist.encode(page) + b" - " + shown + b"\r\n" + name + b"\r\n"
        pls += b"File%d=%s\r\nTitle%d=%s\r\nLength%d=60\r\n" % (n, name, n, shown, n)
        cue += b'FILE "' + name + b'" MP3\r\n  TRACK %02d AUDIO\r\n    TITLE "' % n + shown + \
            b'"\r\n    INDEX 01 00:00:00\r\n'
    pls += b"NumberOfEntries=%d\r\nVersion=2\r\n" % len(names)
    expected = [t[:60] for t in titles]
    for list_name, data in ((b"list.m3u", m3u), (b"list.pls", pls), (b"album.cue", cue)):
        path = os.path.join(folder, list_name)
        write(path, data)
        shown = expected if list_name == b"list.pls" else [artist] + expected
        record[os.path.relpath(path, root).decode()] = {"page": page, "titles": shown}


def entries(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xEF\xBB\xBF"):
        data = data[3:]
    found = []
    for line in data.replace(b"\r\n", b"\n").split(b"\n"):
        text = line.strip()
        if path.endswith(b".m3u") and text and not text.startswith(b"#"):
            found.append(text)
        elif path.endswith(b".pls") and text.lower().startswith(b"file"):
            found.append(text.split(b"=", 1)[1])
        elif path.endswith(b".cue") and text.startswith(b'FILE "'):
            found.append(text[6:text.rindex(b'"')])
    return data, found


def resolving(root, record):
    result = {}
    for rel in record:
        path = os.path.join(root, rel.encode())
        _, names = entries(path)
        folder = os.path.dirname(path)
        result[rel] = [os.path.exists(os.path.join(folder, n.replace(b"\\", b"/"))) for n in names]
    return result


def make(root):
    root = os.fsencode(root)
    record = {}
    for page in ALBUMS:
        for copy in range(1, COPIES + 1):
            album(root, page, copy, record)
    state = {"lists": record, "before": resolving(root, record)}
    with open(os.path.join(root, b".review"), "w") as out:
        json.dump(state, out)
    print("%d lists, %d entries" % (len(record), sum(len(v) for v in state["before"].values())))


def check(root):
    root = os.fsencode(root)
    with open(os.path.join(root, b".review")) as f:
        state = json.load(f)
    after = resolving(root, state["lists"])
    converted = broken = total = 0
    per_page = {}
    for rel, info in state["lists"].items():
        data, _ = entries(os.path.join(root, rel.encode()))
        ok = all(t.encode("utf-8") in data for t in info["titles"])
        converted += ok
        page = per_page.setdefault(info["page"], [0, 0])
        page[0] += ok
        page[1] += 1
        for was, now in zip(state["before"][rel], after[rel]):
            total += was
            broken += was and not now
        if len(after[rel]) != len(state["before"][rel]):
            broken += 1
    print("converted %d of %d lists (%s); %d of %d resolving entries stopped resolving" % (
        converted, len(state["lists"]),
        ", ".join("%s %d/%d" % (p, c[0], c[1]) for p, c in sorted(per_page.items())),
        broken, total))
    return 0 if broken == 0 else 1


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("make", "check"):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(make(sys.argv[2]) if sys.argv[1] == "make" else check(sys.argv[2]))
