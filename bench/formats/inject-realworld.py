#!/usr/bin/python3
"""Copies the files of a read-only folder of real audio files (FLAC, Ogg,
Opus, WAV, AIFF, MP4, WMA, APE, WavPack) into OUT with the title, artist
and album of each rewritten into a wrong shape, with a manifest like
make-library.py's.

    inject-realworld.py SRC OUT [--seed N] [--album-size N]

SRC is only read (for example ../shared/realworld-formats). Files broken on
purpose (their names say so: segfault, infloop, invalid, ...) are not
copied. Each folder of SRC gives albums of up to --album-size files of one
format, below OUT/<folder>/; a file whose fields cannot be rewritten safely
(inject.py) is copied as it is, and nothing in it may change. OUT must be
empty or new; score.py OUT OUT scores it after a run.
"""
import argparse
import json
import os
import sys

sys.dont_write_bytecode = True
sys.path.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "shapes"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import inject  # noqa: E402


def main(argv):
    parser = argparse.ArgumentParser(description="Rewrites copies of real files into wrong shapes.")
    parser.add_argument("src", metavar="SRC")
    parser.add_argument("out", metavar="OUT")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--album-size", type=int, default=6)
    args = parser.parse_args(argv)
    if not os.path.isdir(args.src):
        parser.error("%s is not a folder" % args.src)
    if args.album_size < 1:
        parser.error("--album-size must be at least 1")
    if os.path.exists(args.out) and os.listdir(args.out):
        parser.error("%s is not empty" % args.out)
    if os.path.realpath(args.out).startswith(os.path.realpath(args.src) + os.sep):
        parser.error("OUT must not lie inside SRC")
    os.makedirs(args.out, exist_ok=True)
    albums, skipped = inject.inject(args.src, args.out, args.seed, args.album_size)
    with open(os.path.join(args.out, "manifest.json"), "w", encoding="utf-8") as out:
        json.dump({"format": 1, "kind": "realworld", "seed": args.seed, "albums": albums,
                   "skipped": skipped}, out, ensure_ascii=False, indent=1)
        out.write("\n")
    files = [f for a in albums for f in a["files"]]
    print("Copied %d files into %d albums in %s: %d rewritten, %d as they are; %d broken on "
          "purpose not copied" % (len(files), len(albums), args.out,
                                  sum(not f["right"] for f in files),
                                  sum(f["right"] for f in files), len(skipped)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
