#!/usr/bin/python3
"""Generates the mixed-format library: albums of short tones in FLAC, Ogg
Vorbis, Opus, WAV, AIFF, MP4, WMA, APE, WavPack and MP3 with an APEv2 tag,
whose tags hold text in the shapes of plan.py, with a manifest.

    make-library.py --albums N --seed S OUT
    make-library.py --check OUT

OUT must be empty or new. Each album is one format, language and shape (or
one shape per track); "mixed" folders hold tracks of several formats.
OUT/manifest.json lists every file (library.py tells its entry). The same
seed and count give the same texts. --check reads the library back: every
file must hold what its entry says. Needs ffmpeg and /usr/bin/python3 with
mutagen.
"""
import argparse
import json
import os
import random
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "shapes"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import audio  # noqa: E402
import library  # noqa: E402
import plan  # noqa: E402

MANIFEST = "manifest.json"
FORMAT = 1


def album_texts(rng, lang, shape, tracks):
    """The right texts of an album: one artist, album and genre, a title and
    a mood per track."""
    artist = plan.pick(rng, lang, "artists", shape)
    name = plan.pick(rng, lang, "albums", shape)
    genre = plan.pick(rng, lang, "genres", shape)
    titles = []
    for _ in range(tracks):
        titles.append(plan.pick(rng, lang, "titles", shape, titles))
    return [{"title": t, "artist": artist, "album": name, "genre": genre,
             "mood": plan.pick(rng, lang, "labels", shape)} for t in titles]


def track_plan(rng, fmt, shape, tracks):
    """(format, shape) of each track of an album."""
    if fmt == "mixed":
        formats = rng.sample(plan.MIXED, tracks)
        return [(f, next(s for s in plan.SHAPES[f] if not plan.is_right(s))) for f in formats]
    if shape == "per-track":
        return [(fmt, plan.PER_TRACK[k % len(plan.PER_TRACK)]) for k in range(tracks)]
    return [(fmt, shape)] * tracks


def make_album(root, rng, number, kind, seen, tones):
    fmt, shape = kind
    langs = plan.LEGACY if fmt == "mixed" else plan.SHAPES[fmt][shape]
    lang = langs[seen % len(langs)]
    tracks = rng.randint(3, 6)
    folder = "%03d-%s-%s-%s" % (number, fmt, shape, lang)
    files = []
    for k, ((tfmt, tshape), texts) in enumerate(
            zip(track_plan(rng, fmt, shape, tracks), album_texts(rng, lang, shape, tracks)), 1):
        if shape == "per-track" or fmt == "mixed":  # each text must fit its own track's shape
            texts = album_texts(random.Random(rng.random()), lang, tshape, 1)[0]
        rel = "%s/%02d.%s" % (folder, k, audio.FORMATS[tfmt][0])
        files.append(library.make_file(root, rel, tones[tfmt], tfmt, tshape, lang, texts, k,
                                       rng.choice((3, 4))))
    return {"folder": folder, "format": fmt, "shape": shape, "lang": lang,
            "right": plan.is_right(shape), "files": files}


def generate(root, seed, albums):
    rng = random.Random(seed)
    kinds = plan.kinds()
    order = list(range(len(kinds) - 1))
    rng.shuffle(order)
    # the mixed folder comes once per 25 albums, from the tenth on; the
    # others take every kind in turn
    made, seen, turn = [], {}, 0
    with tempfile.TemporaryDirectory() as tmp:
        tones = audio.make_tones(tmp)
        for number in range(1, albums + 1):
            if number % 25 == 10:
                kind = kinds[-1]
            else:
                kind, turn = kinds[order[turn % len(order)]], turn + 1
            made.append(make_album(root, rng, number, kind, seen.get(kind, 0), tones))
            seen[kind] = seen.get(kind, 0) + 1
    write_manifest(root, {"format": FORMAT, "kind": "generated", "seed": seed, "albums": made})
    return made


def write_manifest(root, manifest):
    with open(os.path.join(root, MANIFEST), "w", encoding="utf-8") as out:
        json.dump(manifest, out, ensure_ascii=False, indent=1)
        out.write("\n")


def load_manifest(path):
    """The manifest at path (a file, or a library folder holding one)."""
    if os.path.isdir(path):
        path = os.path.join(path, MANIFEST)
    with open(path, encoding="utf-8") as src:
        manifest = json.load(src)
    if manifest.get("format") != FORMAT:
        raise ValueError("%s: unknown manifest format %r" % (path, manifest.get("format")))
    return manifest


def manifest_files(manifest):
    for album in manifest["albums"]:
        for file in album["files"]:
            yield album, file


def run_check(root):
    failures, count = [], 0
    for _, file in manifest_files(load_manifest(root)):
        count += 1
        failures += [(file["path"], p) for p in library.check_file(root, file)]
    for path, problem in failures[:50]:
        print("%s: %s" % (path, problem))
    print("Checked %d files: %d problems" % (count, len(failures)))
    return 1 if failures or count == 0 else 0


def main(argv):
    parser = argparse.ArgumentParser(description="Generates the mixed-format library.")
    parser.add_argument("out", metavar="OUT")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--albums", type=int, default=60)
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args(argv)
    if args.check:
        return run_check(args.out)
    if args.albums < 1:
        parser.error("--albums must be at least 1")
    if os.path.exists(args.out) and os.listdir(args.out):
        parser.error("%s is not empty" % args.out)
    if not audio.have_ffmpeg():
        print("make-library.py: ffmpeg is needed", file=sys.stderr)
        return 2
    os.makedirs(args.out, exist_ok=True)
    made = generate(args.out, args.seed, args.albums)
    files = sum(len(a["files"]) for a in made)
    print("Made %d albums (%d right) of %d files in %s" % (
        len(made), sum(a["right"] for a in made), files, args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
