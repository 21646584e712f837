"""Self-check of a library against its manifest, before any repair.

For every file: mutagen must read its tag and its audio, every place must
give the manifest's expected text once the file's form is undone (what a
perfect repair does), a right file must read as expected as it is, and a
wrong file must read wrong somewhere (else it is no case to repair).
"""
import os

from mutagen.mp3 import MP3

import forms
import frames
import mpeg
import tagio


def stored_id3v1(path, place, page):
    """The text of an ID3v1 field of the file, read through the page."""
    with open(path, "rb") as src:
        src.seek(0, os.SEEK_END)
        size = src.tell()
        src.seek(max(0, size - 128))
        fields = mpeg.id3v1_fields(src.read())
    if fields is None:
        return None
    name = {"TIT2": "title", "TPE1": "artist", "TALB": "album"}[place["frame"]]
    return fields[name].decode(page)


def recovered(tag, place, file, path):
    """(as stored, as a perfect repair reads it) for one place."""
    if place.get("from") == "id3v1":
        return None, stored_id3v1(path, place, file["page"])
    stored = frames.read_place(tag, place)
    if stored is None:
        return None, None
    form = place.get("form", file["form"])
    if place["frame"] == "SYLT":
        lines = [forms.recover(form, file["page"], line) for line in stored.split("\n")]
        return stored, "\n".join(lines)
    return stored, forms.recover(form, file["page"], stored)


def _audio_problem(path):
    try:
        info = MP3(path).info
    except Exception as error:
        return "audio unreadable: %s" % error
    return None if info.length > 0 else "no audio frames"


def check_file(root, file, audio=True):
    """Problems of one file, as readable lines; `audio`: also that mutagen
    finds MPEG audio in it (real-world files may have none to find)."""
    path = os.path.join(root, file["path"])
    if not os.path.isfile(path):
        return ["missing"]
    tag = tagio.read_tag(path)
    if isinstance(tag, str) or tag is None:
        return ["tag unreadable: %s" % tag]
    problems, reads_wrong = [], False
    for place in file["places"]:
        try:
            stored, text = recovered(tag, place, file, path)
        except (UnicodeError, ValueError, KeyError) as error:
            stored, text = None, "<%s>" % error
        if text != place["expected"]:
            problems.append("%s %s: %r, expected %r" % (place["frame"], place["field"], text,
                                                         place["expected"]))
        reads_wrong = reads_wrong or stored != place["expected"]
    if file["right"] and reads_wrong:
        problems.append("a right file reads wrong as it is")
    if not file["right"] and not reads_wrong:
        problems.append("a wrong file reads right as it is")
    audio = _audio_problem(path) if audio else None
    return problems + ([audio] if audio else [])


def check_library(root):
    """(files checked, [(path, problem), ...])."""
    manifest = tagio.load_manifest(root)
    failures, count = [], 0
    for _, file in tagio.manifest_files(manifest):
        count += 1
        problems = check_file(root, file, manifest.get("kind") == "generated")
        failures += [(file["path"], p) for p in problems]
    return count, failures
