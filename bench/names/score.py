#!/usr/bin/env python3
"""Snapshots and scores a names library (see make-library.py).

  score.py snapshot ROOT > BEFORE.json     every entry: inode, bytes, audio
  score.py score MANIFEST ROOT BEFORE.json RUN.jsonl [--threshold PCT]
  score.py same BEFORE.json AFTER.json     names and bytes all back?

`score` counts names right (each entry at the path the manifest expects,
the same inode), playlists right (every entry resolves to the file it
named, under its expected name), files lost, audio changed, and names that
must be left (collisions, a name too long) left and reported by the run's
JSON lines. With --threshold it exits 1 when names or playlists fall below
it or anything is lost, changed or left unreported. The last line it prints
is JSON.
"""
import hashlib
import json
import os
import re
import sys
import urllib.parse


def audio_part(data):
    """The bytes after an ID3v2 tag and before an ID3v1 tag."""
    start = 0
    if data[:3] == b"ID3" and len(data) >= 10:
        s = data[6:10]
        start = 10 + (s[0] << 21 | s[1] << 14 | s[2] << 7 | s[3]) + (10 if data[5] & 0x10 else 0)
    end = len(data) - 128 if data[-128:-125] == b"TAG" else len(data)
    return data[start:end]


def snapshot(root):
    root = os.fsencode(root)
    shot = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            rel = os.fsdecode(os.path.relpath(path, root))
            info = os.lstat(path)
            item = {"ino": info.st_ino, "folder": name in dirs}
            if name in files:
                with open(path, "rb") as f:
                    data = f.read()
                item["sha"] = hashlib.sha256(data).hexdigest()
                if name.lower().endswith(b".mp3"):
                    item["audio"] = hashlib.sha256(audio_part(data)).hexdigest()
            shot[rel] = item
    return shot


def playlist_entries(data, kind):
    if data.startswith(b"\xEF\xBB\xBF"):
        data = data[3:]
    entries = []
    for line in re.split(rb"\r\n|\n|\r", data):
        line = line.strip()
        if kind in ("m3u", "m3u8"):
            if line and not line.startswith(b"#"):
                entries.append(line)
        elif kind == "pls":
            key, _, value = line.partition(b"=")
            if key.lower().startswith(b"file") and value:
                entries.append(value.strip())
        else:
            m = re.match(rb'FILE\s+"(.*)"', line, re.I)
            if m:
                entries.append(m.group(1))
    return entries


def resolve(root, playlist_rel, entry):
    """The path an entry names, from the library's top (None outside it)."""
    if entry.lower().startswith(b"file://"):
        entry = urllib.parse.unquote_to_bytes(entry[7:])
    entry = entry.replace(b"\\", b"/")
    if not entry.startswith(b"/"):
        entry = os.path.join(root, os.path.dirname(playlist_rel), entry)
    return os.path.normpath(entry)


def identity(path, folder):
    """What an entry is wherever it went: a folder's inode, an MP3 file's
    audio (each file's frames are its own), else the name alone."""
    if folder:
        return ("ino", os.lstat(path).st_ino)
    if path.lower().endswith(b".mp3"):
        with open(path, "rb") as f:
            return ("audio", hashlib.sha256(audio_part(f.read())).hexdigest())
    return None


def identity_before(item):
    if item["folder"]:
        return ("ino", item["ino"])
    return ("audio", item["audio"]) if "audio" in item else None


def score(manifest, root, before, run_lines):
    broot = os.fsencode(os.path.abspath(root))
    where = {}
    for folder, dirs, files in os.walk(broot):
        for name in dirs + files:
            path = os.path.join(folder, name)
            key = identity(path, name in dirs)
            if key:
                where[key] = path
    reported = set()
    for line in run_lines:
        item = json.loads(line)
        if item.get("type") == "rename" and item.get("outcome") == "not renamed":
            old = bytes.fromhex(item["old_bytes"]) if "old_bytes" in item else item["old"].encode()
            reported.add(old.replace(b"\\", b"/"))  # Windows shows its own separators
    names = {"right": 0, "total": 0, "wrong": []}
    left = {"reported": 0, "total": 0, "unreported": []}
    lost, audio = [], []
    for entry in manifest["entries"]:
        expect = os.path.join(broot, os.fsencode(entry["expect"]))
        item = before[entry["path"]]
        key = identity_before(item)
        names["total"] += 1
        if key is None:
            right = os.path.isfile(expect)
            now = expect if right else None
        else:
            now = where.get(key)
            right = now == expect
        if right:
            names["right"] += 1
        else:
            names["wrong"].append([entry["path"], entry["expect"],
                                   os.fsdecode(now[len(broot) + 1:]) if now else "(not found)"])
        if now is None and not os.path.lexists(os.path.join(broot, os.fsencode(entry["path"]))):
            (audio if key and key[0] == "audio" and os.path.lexists(expect) else lost).append(
                entry["path"])
        if entry["left"]:
            left["total"] += 1
            path = os.fsencode(entry["path"])
            if any(r == path or r.endswith(b"/" + path) or path.endswith(b"/" + r) for r in reported):
                left["reported"] += 1
            else:
                left["unreported"].append(entry["path"])
    lists = {"right": 0, "total": 0, "wrong": []}
    for playlist in manifest["playlists"]:
        lists["total"] += 1
        path = os.path.join(broot, os.fsencode(playlist["expect"]))
        why = None
        if not os.path.exists(path):
            why = "the playlist is not at its expected name"
        else:
            with open(path, "rb") as f:
                entries = playlist_entries(f.read(), playlist["format"])
            if len(entries) != len(playlist["targets"]):
                why = "%d entries, %d expected" % (len(entries), len(playlist["targets"]))
            for entry, target in zip(entries, playlist["targets"]):
                named = resolve(broot, os.fsencode(playlist["expect"]), entry)
                if why is None and (not os.path.isfile(named) or identity(named, False) !=
                                    identity_before(before[target])):
                    why = "%r does not name %s" % (entry, target)
        if why is None:
            lists["right"] += 1
        else:
            lists["wrong"].append([playlist["path"], playlist["encoding"], playlist["form"], why])
    return {"names": names, "playlists": lists, "lost": lost, "audio_changed": audio, "left": left}


def percent(part, whole):
    return 100.0 * part / whole if whole else 100.0


def main(argv):
    if len(argv) >= 2 and argv[1] == "snapshot":
        json.dump(snapshot(argv[2]), sys.stdout, sort_keys=True, indent=0)
        return 0
    if len(argv) >= 4 and argv[1] == "same":
        with open(argv[2]) as a, open(argv[3]) as b:
            # A file saved by a copy renamed over it has a new inode.
            first, second = [{rel: {k: v for k, v in item.items() if k != "ino"}
                              for rel, item in json.load(f).items()} for f in (a, b)]
        differ = sorted(set(first) ^ set(second)) + sorted(
            k for k in set(first) & set(second) if first[k] != second[k])
        for rel in differ[:20]:
            print("differs: %s" % rel)
        print("undo: %d of %d entries back with every name and byte" %
              (len(first) - len(differ), len(first)))
        return 1 if differ else 0
    if len(argv) < 6 or argv[1] != "score":
        print(__doc__, file=sys.stderr)
        return 2
    threshold = float(argv[argv.index("--threshold") + 1]) if "--threshold" in argv else None
    with open(argv[2]) as f:
        manifest = json.load(f)
    with open(argv[4]) as f:
        before = json.load(f)
    with open(argv[5]) as f:
        result = score(manifest, argv[3], before, [l for l in f if l.startswith("{")])
    names, lists, left = result["names"], result["playlists"], result["left"]
    show = os.environ.get("SHOW_WRONG") == "1"
    if show:
        for row in names["wrong"] + lists["wrong"] + [["unreported", p] for p in left["unreported"]]:
            print("wrong: " + " | ".join(row))
    print("names right      %d/%d (%.1f%%)" % (names["right"], names["total"],
                                              percent(names["right"], names["total"])))
    print("playlists right  %d/%d (%.1f%%)" % (lists["right"], lists["total"],
                                              percent(lists["right"], lists["total"])))
    print("files lost %d, audio changed %d, left and reported %d/%d" % (
        len(result["lost"]), len(result["audio_changed"]), left["reported"], left["total"]))
    print(json.dumps({"names": [names["right"], names["total"]],
                      "playlists": [lists["right"], lists["total"]], "lost": len(result["lost"]),
                      "audio_changed": len(result["audio_changed"]),
                      "left_reported": [left["reported"], left["total"]]}))
    if threshold is None:
        return 0
    ok = (percent(names["right"], names["total"]) >= threshold and
          percent(lists["right"], lists["total"]) >= threshold and not result["lost"] and
          not result["audio_changed"] and left["reported"] == left["total"])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
