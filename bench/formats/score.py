#!/usr/bin/python3
"""Scores a mixed-format library after a run against its manifest.

    score.py MANIFEST LIBRARY [--before SNAPSHOT] [--show N] [--detail]

MANIFEST is the manifest file (or a folder holding manifest.json). For each
file, its fields are read again (fields.py: raw bytes for the UTF-8 tags,
mutagen for ASF and ID3v2, the ID3 chunk of WAV and AIFF) and counted:
  right         every expected field reads as its right text, no field is
                lost, and a file that was right keeps every byte
  right changed a file that was right whose bytes differ from before
  lost          fields present before that are gone (text or not)
  kept changed  fields that must keep their bytes and did not
  audio changed files whose audio bytes differ (audio.py)
  unreadable    files whose tags could not be read whole
"Before" is the SNAPSHOT (bench/shapes/snapshot.py output) when given, else
the checksum the manifest took when the file was made. Prints a table per
format (--detail: per format and shape), N wrong fields (--show), then one
JSON line. Exits 0 whatever the figures.
"""
import argparse
import json
import os
import sys

sys.dont_write_bytecode = True
sys.path.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "shapes"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import audio  # noqa: E402
import fields  # noqa: E402
import library  # noqa: E402

COLUMNS = ("files", "right", "right_files", "right_changed", "lost", "kept_changed",
           "audio_changed", "unreadable")


def load_manifest(path):
    if os.path.isdir(path):
        path = os.path.join(path, "manifest.json")
    with open(path, encoding="utf-8") as src:
        return json.load(src)


def score_file(root, entry, before):
    """The facts of one file: a dict of counts and the wrong fields."""
    path = os.path.join(root, entry["path"])
    if not os.path.isfile(path):
        return {"files": 1, "unreadable": 1, "right_files": int(entry["right"]),
                "lost": len(entry["stored"]) + len(entry["kept"])}, \
            [(entry["path"], "file", "missing", None)]
    found, problem = fields.read_fields(path, entry["format"])
    wrong = [(entry["path"], key, found.get(key, (None,))[0], text)
             for key, text in entry["expected"].items() if found.get(key, (None,))[0] != text]
    lost = [k for k in list(entry["stored"]) + list(entry["kept"]) if k not in found]
    kept = [k for k, digest in entry["kept"].items()
            if k in found and library.sha(found[k][1]) != digest]
    then = before.get(entry["path"], {}).get("sha256") if before is not None else entry.get("sha256")
    changed = then is not None and library.file_sha256(path) != then
    audio_changed = entry.get("audio") is not None and \
        audio.audio_sha256(path, entry["format"]) != entry["audio"]
    right = not wrong and not lost and not (entry["right"] and changed)
    facts = {"files": 1, "right": int(right), "right_files": int(entry["right"]),
             "right_changed": int(entry["right"] and changed), "lost": len(lost),
             "kept_changed": len(kept), "audio_changed": int(audio_changed),
             "unreadable": int(problem is not None)}
    wrong += [(entry["path"], k, "lost", None) for k in lost]
    wrong += [(entry["path"], k, "changed", None) for k in kept]
    return facts, wrong


def score_library(manifest, root, before=None, detail=False):
    rows, wrong, changed_paths = {}, [], []
    for album in manifest["albums"]:
        for entry in album["files"]:
            facts, bad = score_file(root, entry, before)
            keys = [entry["format"], "all"]
            if detail:
                keys.append("%s %s" % (entry["format"], entry.get("shape", "?")))
            for key in keys:
                row = rows.setdefault(key, dict.fromkeys(COLUMNS, 0))
                for column, value in facts.items():
                    row[column] += value
            wrong += bad
            if facts.get("right_changed"):
                changed_paths.append(entry["path"])
    return {"library": root, "kind": manifest.get("kind"), "rows": rows, "wrong": wrong,
            "right_files_changed": changed_paths, "snapshot": before is not None}


def table(result, show):
    names = sorted(k for k in result["rows"] if k != "all") + ["all"]
    width = max(len(n) for n in names + ["format"])
    heads = ("files", "right", "right chg", "lost", "kept chg", "audio chg", "unreadable")
    lines = ["Library %s (%s)" % (result["library"], result["kind"]),
             "%-*s %7s %9s %9s %6s %9s %9s %10s" % ((width, "format") + heads)]
    for name in names if result["rows"] else []:
        r = result["rows"][name]
        lines.append("%-*s %7d %9s %9s %6d %9d %9d %10d" % (
            width, name, r["files"], "%d" % r["right"], "%d/%d" % (r["right_changed"], r["right_files"]),
            r["lost"], r["kept_changed"], r["audio_changed"], r["unreadable"]))
    for path, key, got, want in result["wrong"][:show]:
        lines.append("  %s  %s: %r, expected %r" % (path, key, got, want))
    return "\n".join(lines)


def as_json(result, show):
    total = result["rows"].get("all", dict.fromkeys(COLUMNS, 0))
    out = {"library": result["library"], "kind": result["kind"], "rows": result["rows"],
           "files_right_percent": round(100.0 * total["right"] / total["files"], 2)
           if total["files"] else 0.0,
           "right_files_changed": result["right_files_changed"][:max(show, 20)],
           "wrong": [list(w) for w in result["wrong"][:show]], "snapshot": result["snapshot"]}
    return json.dumps(out, ensure_ascii=False, sort_keys=True)


def main(argv):
    parser = argparse.ArgumentParser(description="Scores a mixed-format library after a run.")
    parser.add_argument("manifest", metavar="MANIFEST")
    parser.add_argument("library", metavar="LIBRARY")
    parser.add_argument("--before", metavar="SNAPSHOT")
    parser.add_argument("--show", type=int, default=0, metavar="N")
    parser.add_argument("--detail", action="store_true")
    args = parser.parse_args(argv)
    before = None
    if args.before:
        with open(args.before, encoding="utf-8") as src:
            before = json.load(src)
    result = score_library(load_manifest(args.manifest), args.library, before, args.detail)
    print(table(result, args.show))
    print(as_json(result, args.show))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
