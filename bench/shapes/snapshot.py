#!/usr/bin/python3
"""Checksums of every file of a library, taken before a run.

    snapshot.py OUT > snap.json

For each file below OUT (path relative to OUT, `/`-separated): the sha256
of its bytes, and of its bytes after the first ID3v2 tag (the audio and any
ID3v1 or APE tag, which a repair never changes). score.py --before compares
a library with it.
"""
import hashlib
import json
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import mpeg  # noqa: E402


def file_sums(path):
    with open(path, "rb") as src:
        data = src.read()
    return {"sha256": hashlib.sha256(data).hexdigest(),
            "after_tag_sha256": hashlib.sha256(data[mpeg.id3v2_end(data):]).hexdigest()}


def snapshot(root):
    sums = {}
    for folder, dirs, names in os.walk(root):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            sums[rel] = file_sums(path)
    return sums


def main(argv):
    if len(argv) != 1:
        print("usage: snapshot.py OUT > snap.json", file=sys.stderr)
        return 2
    json.dump(snapshot(argv[0]), sys.stdout, ensure_ascii=False, indent=0, sort_keys=True)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
