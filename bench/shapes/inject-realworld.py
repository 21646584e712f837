#!/usr/bin/python3
"""Copies the MP3 files of a read-only folder into OUT and rewrites their
tags into the shapes of the library, with a manifest like make-library.py's.

    inject-realworld.py SRC OUT [--seed N] [--album-size N]

SRC is only read (for example ../shared/realworld beside the repository).
Each folder of SRC gives albums of up to --album-size files (default 8),
below OUT/<folder>/; each file keeps its name, its audio and the frames
that hold no text (see inject.py). Files mutagen cannot read or write are
skipped and counted; the manifest lists them under "skipped". OUT must be
empty or new. make-library.py --check OUT checks the result.
"""
import argparse
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import inject  # noqa: E402


def main(argv):
    parser = argparse.ArgumentParser(description="Rewrites real-world MP3 files into the shapes.")
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
    files = sum(len(a["files"]) for a in albums)
    print("Rewrote %d files into %d albums (%d right) in %s; skipped %d that mutagen cannot "
          "read or write" % (files, len(albums), sum(a["right"] for a in albums), args.out,
                             len(skipped)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
