"""Real-world MP3 files rewritten into the shapes of the library.

The files of each folder of SRC are taken in name order, in albums of up to
`album_size`, each album in the next shape of a seeded round of all shapes.
A copy keeps its audio and every frame that holds no text (pictures without
a description of their own, private and unknown frames, play counters, ...);
its text frames and any frame holding text above ASCII are replaced by the
album's, its ID3v1 tag by the album's (or none). Files mutagen cannot read
or write are skipped and listed with the reason.
"""
import os
import random
import shutil

from mutagen.id3 import ID3, ID3NoHeaderError

import album as al
import mixed
import shapes
import tagio

REPLACED = ("COMM", "USLT", "SYLT", "TXXX", "WXXX", "CHAP", "CTOC", "APIC", "GEOB")


def source_groups(src):
    """{folder relative to src: [file names]} of the .mp3 files below src."""
    out = {}
    for folder, dirs, names in os.walk(src):
        dirs.sort()
        mp3 = sorted(n for n in names if n.lower().endswith(".mp3"))
        if mp3:
            out[os.path.relpath(folder, src)] = mp3
    return out


def _holds_non_ascii(frame):
    for value in vars(frame).values():
        texts = value if isinstance(value, list) else [value]
        for text in texts:
            if isinstance(text, str) and any(ord(ch) > 0x7F for ch in text):
                return True
    return False


def describe(error):
    """A reader's or writer's error as one line (mutagen's often has no text
    of its own, only the error it wraps)."""
    text = str(error) or repr(error.__context__ or error)
    return "%s: %s" % (type(error).__name__, text)


def kept_tag(path):
    """The ID3v2 tag of a file without the frames the shapes replace, or an
    error string when mutagen cannot read it."""
    try:
        tag = ID3(path, load_v1=False)
    except ID3NoHeaderError:
        return ID3()
    except Exception as error:  # any reader failure: the file is skipped
        return describe(error)
    for key in list(tag.keys()):
        frame = tag[key]
        if frame.FrameID[0] in "TW" or frame.FrameID in REPLACED or _holds_non_ascii(frame):
            del tag[key]
    return tag


def shape_round(rng, size):
    """`size` shape names: every shape once per round, each round shuffled;
    the mixed shapes only where an album has room for them."""
    out, names = [], list(shapes.SHAPES)
    while len(out) < size:
        rng.shuffle(names)
        out += names
    return out[:size]


def write_copy(src_path, path, file):
    """Copies a file and writes the album's tags into the copy; an error
    string when mutagen cannot."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    shutil.copyfile(src_path, path)
    tag = kept_tag(path)
    if isinstance(tag, str):
        os.remove(path)
        return tag
    try:
        tagio.save_tag(tagio.build_tag(file, tag), path, file)
    except Exception as error:  # a tag mutagen cannot write: skipped
        os.remove(path)
        return describe(error)
    return None


def _chunks(groups, album_size):
    for folder, names in sorted(groups.items()):
        for start in range(0, len(names), album_size):
            yield folder, names[start:start + album_size]


def _fitting_shape(wanted, size):
    if wanted in ("compilation", "two-pages") and size < mixed.MIXED_MINIMUM:
        return "latin1-legacy"
    return wanted


def inject(src, out, seed=1, album_size=6):
    """Writes the copies and the manifest; returns (albums, skipped)."""
    rng = random.Random(seed)
    chunks = list(_chunks(source_groups(src), album_size))
    albums, skipped = [], []
    for number, ((folder, names), wanted) in enumerate(zip(chunks, shape_round(rng, len(chunks))), 1):
        shape = _fitting_shape(wanted, len(names))
        # A drawn index: a shape's few albums here take varied languages.
        index = rng.randrange(60)
        album = mixed.make_album(rng, number, shape, index, len(names))
        kept = []
        for name, file in zip(names, album["files"]):
            source = os.path.join(folder, name)
            file["path"] = "%s/%s/%s" % (folder.replace(os.sep, "/"), album["folder"], name)
            file["source"] = source.replace(os.sep, "/")
            problem = write_copy(os.path.join(src, source), os.path.join(out, file["path"]), file)
            if problem:
                skipped.append({"source": file["source"], "reason": problem})
            else:
                kept.append(file)
        if kept:
            albums.append(al.finish_album(album["folder"], shape, album["version"], album["page"], kept))
    tagio.write_manifest(out, {"format": tagio.FORMAT, "kind": "realworld", "seed": seed,
                               "source": os.path.abspath(src), "skipped": skipped, "albums": albums})
    return albums, skipped
