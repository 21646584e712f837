#!/usr/bin/env python3
"""Checks bench/floor-formats: from a plan made of a library and a repaired
copy, both rewrite modes turn another copy of the library into the repaired
one byte for byte, for changes that keep, grow and shrink a file, at its
start, middle and end; files the repair left alone are not written.

    test_floor_formats.py FLOOR-FORMATS
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile


def make(root, files):
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)


def tree(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            with open(os.path.join(folder, name), "rb") as src:
                found[os.path.relpath(os.path.join(folder, name), root)] = src.read()
    return found


def main(floor):
    rng = random.Random(7)
    audio = bytes(rng.randrange(256) for _ in range(3 << 20))  # more than one 1 MB step
    before = {
        "a/same.flac": b"fLaC" + b"x" * 500 + audio,
        "a/grown-start.flac": b"fLaC" + b"t" * 300 + audio,
        "a/grown-end.wv": audio + b"APETAGEX" + b"old",
        "b/shrunk-end.ape": audio + b"APETAGEX" + b"a long old tag" * 40,
        "b/shrunk-start.ogg": b"OggS" + b"c" * 9000 + audio[:70000],
        "b/untouched.m4a": audio[:100000],
        "b/notes.txt": b"not music",
    }
    after = dict(before)
    after["a/same.flac"] = b"fLaC" + b"y" * 500 + audio
    after["a/grown-start.flac"] = b"fLaC" + b"T" * 300 + bytes(4096) + audio
    after["a/grown-end.wv"] = audio + b"APETAGEX" + b"new and longer"
    after["b/shrunk-end.ape"] = audio + b"APETAGEX" + b"short"
    after["b/shrunk-start.ogg"] = b"OggS" + b"d" * 10 + audio[:70000]
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        lib, fixed, plan = (os.path.join(tmp, n) for n in ("library", "repaired", "plan"))
        make(lib, before)
        make(fixed, after)
        out = subprocess.run([floor, "--plan-from", lib, fixed, plan], capture_output=True,
                             text=True, check=True).stdout
        if "6 files, 5 changed" not in out:
            print("plan: expected 6 music files, 5 changed; got %r" % out)
            failures += 1
        for mode in ("shift", "copy"):
            work = os.path.join(tmp, "work-" + mode)
            shutil.copytree(lib, work)
            untouched = os.stat(os.path.join(work, "b/untouched.m4a")).st_mtime_ns
            result = subprocess.run([floor, "--plan", plan, "--rewrite", mode, "--batch", "2", work],
                                    capture_output=True, text=True)
            got = tree(work)
            wrong = sorted(k for k in set(got) | set(after) if got.get(k) != after.get(k))
            if result.returncode or wrong:
                print("%s: exit %d, files not as repaired: %s %s" % (
                    mode, result.returncode, wrong, result.stderr))
                failures += 1
            if "4 rewritten whole, 1 tags in place, 0 failed" not in result.stdout or \
                    "3 flushes" not in result.stdout:  # batches of 2 of 5 written files
                print("%s: unexpected summary %r" % (mode, result.stdout))
                failures += 1
            if os.stat(os.path.join(work, "b/untouched.m4a")).st_mtime_ns != untouched:
                print("%s: a file the repair left alone was written" % mode)
                failures += 1
    print("floor-formats: %s" % ("ok" if not failures else "%d failures" % failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
