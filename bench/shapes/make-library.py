#!/usr/bin/python3
"""Generates the shapes library: albums of short silent MP3 files whose tags
hold text in every shape of wrong (and right) storage, with a manifest.

    make-library.py OUT [--seed N] [--albums N]
    make-library.py --check OUT

OUT must be empty or new. OUT/manifest.json lists every file with its shape,
whether it was right to begin with, and each place of its tags with the text
a user expects after the repair (see frames.py and album.py). The same seed
and album count give the same bytes. --check reads the library back and
undoes each file's shape: every place must give its expected text.
"""
import argparse
import os
import random
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import check  # noqa: E402
import mixed  # noqa: E402
import shapes  # noqa: E402
import tagio  # noqa: E402


def album_order(rng, albums):
    """(shape, index within the shape) of every album, shuffled."""
    counts = shapes.album_counts(albums)
    order = [(name, index) for name in counts for index in range(counts[name])]
    rng.shuffle(order)
    return order


def generate(root, seed, albums):
    rng = random.Random(seed)
    made = []
    for number, (shape, index) in enumerate(album_order(rng, albums), 1):
        album = mixed.make_album(rng, number, shape, index)
        for file in album["files"]:
            tagio.write_generated(root, file, rng.randint(20, 60))
        made.append(album)
    tagio.write_manifest(root, {"format": tagio.FORMAT, "kind": "generated", "seed": seed,
                                "albums": made})
    return made


def run_check(root):
    count, failures = check.check_library(root)
    for path, problem in failures[:50]:
        print("%s: %s" % (path, problem))
    if len(failures) > 50:
        print("... and %d more" % (len(failures) - 50))
    print("Checked %d files: %d problems" % (count, len(failures)))
    return 1 if failures or count == 0 else 0


def main(argv):
    parser = argparse.ArgumentParser(description="Generates the shapes library.")
    parser.add_argument("out", metavar="OUT")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--albums", type=int, default=200)
    parser.add_argument("--check", action="store_true",
                        help="check an existing library against its manifest")
    args = parser.parse_args(argv)
    if args.check:
        return run_check(args.out)
    if args.albums < 1:
        parser.error("--albums must be at least 1")
    if os.path.exists(args.out) and os.listdir(args.out):
        parser.error("%s is not empty" % args.out)
    os.makedirs(args.out, exist_ok=True)
    made = generate(args.out, args.seed, args.albums)
    files = sum(len(a["files"]) for a in made)
    right = sum(1 for a in made if a["right"])
    print("Made %d albums (%d right) of %d files in %s" % (len(made), right, files, args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
