"""Making one file of the library and its manifest entry, and checking a
file against its entry.

A manifest entry: path, format, shape, lang, page, right (its text needs
nothing), expected {field id: right text} (the only fields a repair may
change, see fields.py for ids), stored {field id: hex of the bytes as
written}, kept {field id: sha256 of its value} (every other field, which
must keep its bytes), audio (sha256 of the audio bytes, audio.py), sha256
(of the whole file as made).
"""
import hashlib
import os
import shutil

import mutagen

import audio
import fields
import forms
import plan
import writers
import words

ROLES = ("title", "artist", "album", "genre", "mood")
WAV_INFO_ROLES = ("title", "artist", "album")


def _id3_texts(shape, page, texts, roles=ROLES):
    if is_right_id3(shape):
        return [(r, (forms.UTF16, texts[r])) for r in roles]
    return [(r, (forms.LATIN1, forms.store("legacy-latin1", page, texts[r]))) for r in roles]


def is_right_id3(shape):
    return shape.startswith("right")


def write_tags(path, fmt, shape, page, texts, number, version):
    """Writes the file's tags; returns the ids of its text fields."""
    if fmt in ("flac", "ogg", "opus", "m4a", "ape", "wv"):
        stored = [(r, plan.utf8_stored(shape, page, texts[r])) for r in ROLES]
        {"m4a": writers.write_mp4, "ape": writers.write_ape, "wv": writers.write_ape}.get(
            fmt, lambda p, t, n: writers.write_xiph(p, fmt, t, n))(path, stored, number)
        return [writers.field_id(fmt, r) for r in ROLES]
    if fmt == "wma":
        writers.write_asf(path, [(r, plan.wide_stored(shape, page, texts[r])) for r in ROLES], number)
        return [writers.field_id(fmt, r) for r in ROLES]
    if fmt == "mp3":
        ape_shape = "right-utf8" if plan.is_right(shape) else "raw-page"
        writers.write_mp3(path, _id3_texts(shape, page, texts),
                          [(r, plan.utf8_stored(ape_shape, page, texts[r])) for r in ROLES],
                          number, version)
        return [writers.field_id("mp3", r) for r in ROLES] + \
            [writers.field_id("ape", r) for r in ROLES]
    info = None
    if fmt == "wav":
        info_page = "ascii" if shape == "right-info-ascii" else page
        info = [(writers.INFO_IDS[r], texts[r].encode(info_page)) for r in WAV_INFO_ROLES]
    with_id3 = shape in ("info-page+id3-latin1", "right-id3-utf16", "id3-latin1")
    writers.write_riff(path, fmt, info, _id3_texts(shape, page, texts) if with_id3 else None,
                       number, version)
    if shape == "right-info-ascii":
        return []
    return [writers.field_id(fmt, r) for r in (ROLES if with_id3 else WAV_INFO_ROLES)]


def sha(data):
    return hashlib.sha256(data).hexdigest()


def entry_of(root, rel, fmt, right, expected):
    """The manifest entry of a file as it is now, with its expected text."""
    path = os.path.join(root, rel)
    found, problem = fields.read_fields(path, fmt)
    if problem:
        raise RuntimeError("%s: %s" % (rel, problem))
    return {"path": rel, "format": fmt, "right": right, "expected": expected,
            "stored": {k: found[k][1].hex() for k in expected if k in found},
            "kept": {k: sha(v[1]) for k, v in sorted(found.items()) if k not in expected},
            "audio": audio.audio_sha256(path, fmt), "sha256": file_sha256(path)}


def file_sha256(path):
    with open(path, "rb") as src:
        return sha(src.read())


def make_file(root, rel, tone, fmt, shape, lang, texts, number, version=4):
    """Copies the tone to root/rel, writes its tags; the manifest entry."""
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    shutil.copyfile(tone, path)
    page = words.PAGES[lang]
    ids = write_tags(path, fmt, shape, page, texts, number, version)
    role_of = dict(zip(ids, [r for r in ROLES] * 2))
    expected = {i: texts[role_of[i]] for i in ids}
    entry = entry_of(root, rel, fmt, plan.is_right(shape), expected)
    entry.update(shape=shape, lang=lang, page=page)
    return entry


def audio_readable(path, fmt):
    """Whether mutagen takes the file for audio of some length. APE and
    WavPack audio is read without its tag: mutagen refuses a whole APEv2
    tag when one text item is not valid UTF-8, which is the point of some."""
    if fmt in ("ape", "wv"):
        from mutagen.monkeysaudio import MonkeysAudioInfo
        from mutagen.wavpack import WavPackInfo
        with open(path, "rb") as src:
            return (MonkeysAudioInfo if fmt == "ape" else WavPackInfo)(src).length > 0
    song = mutagen.File(path)
    return song is not None and song.info.length > 0


def check_file(root, entry):
    """Problems of one file against its entry, before any repair."""
    path = os.path.join(root, entry["path"])
    if not os.path.isfile(path):
        return ["missing"]
    problems = []
    try:
        if not audio_readable(path, entry["format"]):
            problems.append("mutagen does not take it for audio")
    except Exception as error:
        problems.append("mutagen cannot read it: %s" % error)
    found, problem = fields.read_fields(path, entry["format"])
    if problem:
        problems.append("tag unreadable: %s" % problem)
    for key, hexed in entry["stored"].items():
        if key not in found or found[key][1].hex() != hexed:
            problems.append("%s does not hold the bytes of the manifest" % key)
    for key, digest in entry["kept"].items():
        if key not in found or sha(found[key][1]) != digest:
            problems.append("%s is not as the manifest says" % key)
    reads_right = all(key in found and found[key][0] == text
                      for key, text in entry["expected"].items())
    if entry["right"] != reads_right:
        problems.append("a %s file reads %s as it is" % (
            "right" if entry["right"] else "wrong", "wrong" if entry["right"] else "right"))
    if entry["audio"] is None or audio.audio_sha256(path, entry["format"]) != entry["audio"]:
        problems.append("audio checksum missing or different")
    return problems
