"""Copies of real files with the title, artist and album of their tags
rewritten into a wrong shape; every other field, block and the audio kept.

A copy is checked after the rewrite: its tags must read whole, the three
fields must hold the bytes meant, every other field must keep its value and
the audio its checksum. A file that fails, or that mutagen cannot rewrite,
is copied again as it is and listed as right (nothing may change in it).
"""
import os
import random
import shutil
import struct

from mutagen.asf import ASF
from mutagen.id3 import TALB, TIT2, TPE1
from mutagen.mp4 import MP4
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis
from mutagen.flac import FLAC

import audio
import fields
import forms
import library
import plan
import words
import writers

BROKEN = ("segfault", "infloop", "longloop", "zerodiv", "excessive_alloc", "invalid", "106-",
          "64bit", "corrupt_metadata", "zero_value_properties")
# the extensions a run scans, and the format each one is
SCANNED = {".flac": "flac", ".ogg": "ogg", ".oga": "ogg", ".opus": "opus", ".wav": "wav",
           ".aif": "aiff", ".aiff": "aiff", ".m4a": "m4a", ".mp4": "m4a", ".m4b": "m4a",
           ".wma": "wma", ".asf": "wma", ".ape": "ape", ".wv": "wv"}
# audio a run does not scan, copied to see that it stays as it is
OTHER_AUDIO = (".aifc", ".afc")
ROLES = ("title", "artist", "album")
SHAPES = {"flac": plan.PER_TRACK, "ogg": plan.PER_TRACK, "opus": plan.PER_TRACK,
          "m4a": plan.PER_TRACK, "ape": plan.PER_TRACK, "wv": plan.PER_TRACK,
          "wma": ("widened-cp1252", "widened-latin1", "utf8-widened"),
          "wav": ("id3-latin1",), "aiff": ("id3-latin1",)}


def is_broken(name):
    return any(mark in name for mark in BROKEN)


def rewrite_xiph(path, fmt, stored):
    song = {"flac": FLAC, "ogg": OggVorbis, "opus": OggOpus}[fmt](path)
    if song.tags is None:
        song.add_tags()
    patches = writers.Patches()
    for role, value in stored:
        key = writers.XIPH_KEYS[role]
        if key in song.tags:
            del song.tags[key]
        head = key.encode() + b"="
        song.tags.append((key, patches.text(value, struct.pack("<I", len(head) + len(value)) + head)))
    song.save()
    patches.apply(path, ogg=fmt != "flac")


def rewrite_mp4(path, stored):
    song = MP4(path)
    if song.tags is None:
        song.add_tags()
    patches = writers.Patches()
    for role, value in stored:
        head = struct.pack(">I", 16 + len(value)) + b"data" + struct.pack(">II", 1, 0)
        song.tags[writers.MP4_KEYS[role]] = [patches.text(value, head)]
    song.save()
    patches.apply(path)


def rewrite_ape(path, stored):
    with open(path, "rb") as src:
        data = src.read()
    found = fields.ape_items(data)
    start, end, items = found if found else (audio.trailing_tags_start(data), len(data), [])
    if found is None and data[-128:-125] == b"TAG":
        end = len(data) - 128
    names = {writers.APE_KEYS[r].lower(): v for r, v in stored}
    kept = [(k, f, v) for k, f, v in items if k.lower() not in names]
    new = [(writers.APE_KEYS[r], 0, v) for r, v in stored]
    with open(path, "wb") as out:
        out.write(data[:start] + writers.ape_tag(new + kept) + data[end:])


def rewrite_riff(path, fmt, stored):
    from mutagen.aiff import AIFF
    from mutagen.wave import WAVE
    song = (WAVE if fmt == "wav" else AIFF)(path)
    if song.tags is None:
        song.add_tags()
    for role, text in stored:
        cls = {"title": TIT2, "artist": TPE1, "album": TALB}[role]
        song.tags.setall(cls.__name__, [cls(encoding=forms.LATIN1, text=[text])])
    song.save(v2_version=song.tags.version[1] if song.tags.version[1] in (3, 4) else 4)


def rewrite(path, fmt, shape, page, texts):
    """Writes the three texts into the copy at path in the shape."""
    if fmt == "wma":
        song = ASF(path)
        for role in ROLES:
            song.tags[writers.ASF_KEYS[role]] = [plan.wide_stored(shape, page, texts[role])]
        song.save()
    elif fmt in ("wav", "aiff"):
        rewrite_riff(path, fmt, [(r, forms.store("legacy-latin1", page, texts[r])) for r in ROLES])
    else:
        stored = [(r, plan.utf8_stored(shape, page, texts[r])) for r in ROLES]
        if fmt == "m4a":
            rewrite_mp4(path, stored)
        elif fmt in ("ape", "wv"):
            rewrite_ape(path, stored)
        else:
            rewrite_xiph(path, fmt, stored)


def as_it_is(root, rel, fmt):
    """The entry of a copy that must not change at all."""
    path = os.path.join(root, rel)
    found, problem = fields.read_fields(path, fmt) if fmt else ({}, None)
    return {"path": rel, "format": fmt or "other", "shape": "as-is", "right": True,
            "expected": {}, "stored": {},
            "kept": {k: library.sha(v[1]) for k, v in sorted(found.items())},
            "audio": audio.audio_sha256(path, fmt) if fmt else None,
            "sha256": library.file_sha256(path), "problem": problem}


def injected(source, root, rel, fmt, shape, lang, texts):
    """The entry of a copy rewritten into the shape, or a string saying why
    it cannot be done safely."""
    path, page = os.path.join(root, rel), words.PAGES[lang]
    before, problem = fields.read_fields(source, fmt)
    sound = audio.audio_sha256(source, fmt)
    if problem or sound is None:
        return "the original does not read whole: %s" % (problem or "no audio found")
    try:
        rewrite(path, fmt, shape, page, texts)
        ids = [writers.field_id(fmt, r) for r in ROLES]
        entry = library.entry_of(root, rel, fmt, False, {i: texts[r] for i, r in zip(ids, ROLES)})
    except Exception as error:  # mutagen refused or the result reads wrong: no case
        return "the rewrite failed: %s: %s" % (type(error).__name__, error)
    others = {k: library.sha(v[1]) for k, v in before.items() if not _rewritten(k, fmt)}
    if entry["audio"] != sound:
        return "the rewrite changed the audio"
    if any(entry["kept"].get(k) != d for k, d in others.items()):
        return "the rewrite changed other fields"
    if sorted(entry["stored"]) != sorted(entry["expected"]) or any(
            entry["stored"][k] != _meant(fmt, shape, page, texts[r]).hex() for k, r in zip(ids, ROLES)):
        return "the fields do not hold the bytes meant"
    entry.update(shape=shape, lang=lang, page=page, source=os.path.basename(source))
    return entry


def _rewritten(key, fmt):
    """Whether a field id is one of the rewritten fields (any repeat of it)."""
    for role in ROLES:
        own = writers.field_id(fmt, role)
        if key == own or (own.endswith("#0") and key.startswith(own[:-1])):
            return True
    return False


def _meant(fmt, shape, page, text):
    if fmt == "wma":
        return plan.wide_stored(shape, page, text).encode("utf-16-le")
    if fmt in ("wav", "aiff"):
        return forms.store("legacy-latin1", page, text).encode("utf-8")
    return plan.utf8_stored(shape, page, text)


def sources(src):
    """(folder name, file name, path) of every file below src, sorted."""
    for folder, dirs, names in sorted(os.walk(src)):
        dirs.sort()
        for name in sorted(names):
            yield os.path.relpath(folder, src), name, os.path.join(folder, name)


def inject(src, out, seed, album_size):
    """Copies src into out; returns (albums, skipped paths)."""
    rng, albums, skipped, groups = random.Random(seed), [], [], {}
    for folder, name, path in sources(src):
        ext = os.path.splitext(name)[1].lower()
        if is_broken(name) or not os.path.isfile(path) or os.path.islink(path) or \
                (ext not in SCANNED and ext not in OTHER_AUDIO):
            skipped.append(os.path.join(folder, name))
            continue
        fmt = SCANNED.get(os.path.splitext(name)[1].lower())
        groups.setdefault((folder, fmt or ""), []).append((name, path))
    count = 0
    for (folder, fmt), members in sorted(groups.items()):
        for first in range(0, len(members), album_size):
            count += 1
            albums.append(_album(rng, out, folder, fmt or None, members[first:first + album_size],
                                 count))
    return albums, skipped


def _album(rng, out, folder, fmt, members, number):
    shapes = SHAPES.get(fmt, ("as-is",))
    shape = shapes[number % len(shapes)]
    langs = plan.TWICE if shape in ("utf8-twice", "utf8-widened") else plan.LEGACY
    lang = langs[number % len(langs)]
    base = "%s/%02d-%s-%s-%s" % (folder.replace(os.sep, "+"), number, fmt or "other", shape, lang)
    files = []
    for name, path in members:
        rel = "%s/%s" % (base, name)
        os.makedirs(os.path.join(out, base), exist_ok=True)
        shutil.copyfile(path, os.path.join(out, rel))
        entry = "not a format a run scans"
        if fmt:
            texts = {r: plan.pick(rng, lang, f, shape)
                     for r, f in zip(ROLES, ("titles", "artists", "albums"))}
            entry = injected(path, out, rel, fmt, shape, lang, texts)
        if isinstance(entry, str):
            shutil.copyfile(path, os.path.join(out, rel))
            entry = dict(as_it_is(out, rel, fmt), why=entry)
        files.append(entry)
    return {"folder": base, "format": fmt or "other", "shape": shape, "lang": lang,
            "right": all(f["right"] for f in files), "files": files}
