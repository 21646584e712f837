#!/usr/bin/env python3
"""Makes a tree of playlists and cue sheets beside named audio files, for an
end-to-end check of playlist repair and of entries following renamed files.

  tools/make-playlist-tree.py OUTPUT_FOLDER

Each album folder holds small MP3 files (an ID3v2.3 tag of code-page text and
silent MPEG frames) and playlists in the shapes repair meets: code-page
.m3u/.pls/.cue with CRLF breaks, double-encoded .m3u8 with a byte-order mark,
right UTF-8 that must stay, file:// URLs and absolute paths. File and folder
names of the first album are code-page bytes (POSIX only), so that its
playlists repair only once those names are. OUTPUT_FOLDER/manifest.txt says
what each playlist is and what a repair should leave.
"""
import os
import sys
import urllib.parse

KINO = "Кино"
SONGS = ["Группа крови", "Закрой за мной дверь", "Звезда по имени Солнце"]
POLISH = ["Zażółć gęślą jaźń", "Pójdź w łąkę"]
GREEK = ["Καλημέρα κόσμε", "Σαν σήμερα"]


def frame(frame_id, text_bytes):
    data = b"\x00" + text_bytes  # Latin-1 by its declaration
    return frame_id.encode() + len(data).to_bytes(4, "big") + b"\x00\x00" + data


def mp3(title, artist, album, page):
    frames = (frame("TIT2", title.encode(page)) + frame("TPE1", artist.encode(page)) +
              frame("TALB", album.encode(page)))
    size = len(frames) + 256  # with padding
    syncsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    tag = b"ID3\x03\x00\x00" + syncsafe + frames + b"\x00" * 256
    mpeg = (b"\xFF\xFB\x90\x00" + b"\x00" * 413) * 20  # 128 kbit/s, 44.1 kHz
    return tag + mpeg


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def twice(text):
    """UTF-8 read as Windows-1252 and saved as UTF-8 again."""
    return text.encode("utf-8").decode("cp1252", errors="replace").encode("utf-8")


def cp1251_album(root, manifest):
    folder_name = (KINO + " - 1988").encode("cp1251")
    folder = os.path.join(root, folder_name)
    names = []
    for n, song in enumerate(SONGS, 1):
        name = ("%02d %s.mp3" % (n, song)).encode("cp1251")
        names.append(name)
        write(os.path.join(folder, name), mp3(song, KINO, KINO + " - 1988", "cp1251"))
    m3u = b"#EXTM3U\r\n"
    for n, (song, name) in enumerate(zip(SONGS, names)):
        m3u += b"#EXTINF:240," + (KINO + " - " + song).encode("cp1251") + b"\r\n"
        m3u += (b".\\" if n == 1 else b"") + name + b"\r\n"
    write(os.path.join(folder, b"playlist.m3u"), m3u)
    cue = b'PERFORMER "' + KINO.encode("cp1251") + b'"\r\nTITLE "' + \
        (KINO + " - 1988").encode("cp1251") + b'"\r\n'
    for n, (song, name) in enumerate(zip(SONGS, names), 1):
        cue += b'FILE "' + name + b'" MP3\r\n  TRACK %02d AUDIO\r\n' % n
        cue += b'    TITLE "' + song.encode("cp1251") + b'"\r\n    INDEX 01 00:00:00\r\n'
    write(os.path.join(folder, b"album.cue"), cue)
    pls = b"[playlist]\r\n"
    for n, (song, name) in enumerate(zip(SONGS, names), 1):
        pls += b"File%d=%s\r\nTitle%d=%s\r\nLength%d=240\r\n" % (n, name, n, song.encode("cp1251"), n)
    pls += b"NumberOfEntries=%d\r\nVersion=2" % len(SONGS)  # no final break
    write(os.path.join(folder, b"list.pls"), pls)
    # Beside the album: relative paths into the code-page folder.
    outer = b"#EXTM3U\n" + b"".join(folder_name + b"/" + name + b"\n" for name in names)
    write(os.path.join(root, b"all.m3u"), outer)
    manifest += [
        "%s - 1988/playlist.m3u: cp1251, CRLF; entries name cp1251 files: left (FAILED) unless those "
        "names are repaired too, then UTF-8 with a byte-order mark" % KINO,
        "%s - 1988/album.cue: cp1251 cue sheet; as playlist.m3u" % KINO,
        "%s - 1988/list.pls: cp1251, no final break; as playlist.m3u, UTF-8 without a mark" % KINO,
        "all.m3u: entries through the cp1251 folder; follow the folder's rename",
    ]


def utf8_album(root, manifest):
    album = "Utf8 " + KINO
    folder = os.path.join(root, album.encode())
    names = []
    for n, song in enumerate(SONGS, 1):
        name = "%02d %s.mp3" % (n, song)
        names.append(name)
        write(os.path.join(folder, name.encode()), mp3(song, KINO, album, "cp1251"))
    double = b"\xEF\xBB\xBF#EXTM3U\n"
    right = b"#EXTM3U\n"
    urls = b"#EXTM3U\n"
    for song, name in zip(SONGS, names):
        double += b"#EXTINF:240," + twice(KINO + " - " + song) + b"\n" + name.encode() + b"\n"
        right += ("#EXTINF:240,%s - %s\n%s\n" % (KINO, song, name)).encode()
        full = os.path.abspath(os.path.join(folder, name.encode())).decode()
        urls += b"file://" + urllib.parse.quote(full).encode() + b"\n" + full.encode() + b"\n"
    write(os.path.join(folder, b"double.m3u8"), double)
    write(os.path.join(folder, b"right.m3u8"), right)
    write(os.path.join(folder, b"urls.m3u8"), urls)
    manifest += [
        "%s/double.m3u8: titles UTF-8 encoded twice, mark kept: titles repaired, entries kept" % album,
        "%s/right.m3u8: right UTF-8: never written" % album,
        "%s/urls.m3u8: file:// URLs and absolute paths of UTF-8 names: never written" % album,
    ]


def paged_album(root, manifest, name, titles, page, kind):
    folder = os.path.join(root, name.encode())
    lines = []
    for n, title in enumerate(titles, 1):
        file_name = "%02d.mp3" % n
        write(os.path.join(folder, file_name.encode()), mp3(title, name, name, page))
        if kind == "pls":
            lines.append(b"File%d=%s\r\nTitle%d=%s" % (n, file_name.encode(), n, title.encode(page)))
        else:
            lines.append(b"#EXTINF:200," + title.encode(page) + b"\r\n" + file_name.encode())
    head = b"[playlist]\r\n" if kind == "pls" else b"#EXTM3U\r\n"
    write(os.path.join(folder, ("list." + kind).encode()), head + b"\r\n".join(lines) + b"\r\n")
    manifest.append("%s/list.%s: %s titles: UTF-8%s" %
                    (name, kind, page, " with a byte-order mark" if kind == "m3u" else ""))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = os.fsencode(sys.argv[1])
    os.makedirs(root, exist_ok=True)
    manifest = []
    if os.name == "posix":
        cp1251_album(root, manifest)
    utf8_album(root, manifest)
    paged_album(root, manifest, "Polish", POLISH, "cp1250", "m3u")
    paged_album(root, manifest, "Greek", GREEK, "cp1253", "pls")
    with open(os.path.join(root, b"manifest.txt"), "w", encoding="utf-8") as out:
        out.write("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
