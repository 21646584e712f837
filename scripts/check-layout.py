#!/usr/bin/env python3
"""Checks the engine's layout; CI runs it before the tests (scripts/test.sh).

    python3 scripts/check-layout.py [--root DIR]

Fails (exit 1) when
  - a file includes an engine folder its own folder may not include (RULES);
    the back-ups still waiting to be removed are listed in KNOWN and only
    reported;
  - an engine folder holds more than MOST_FILES files (its README.md aside);
  - a .cc has no header of its own: X.cc needs X.h beside it; X-posix.cc and
    X-win32.cc are one file and need X.h, or implement a header of their
    own folder that they include;
  - two headers of the engine number an invariant with the same label
    ("//   PL2. ..." in one header and in another).
Reports, without failing, every hand-written file over LONG_LINES lines.
"""
import argparse
import os
import re
import sys

# What each folder of the engine may include besides itself. "." is the run,
# engine/ itself, on top of every folder.
RULES = {
    "platform": set(),
    "text": {"platform"},
    "id3v2": {"text", "platform"},
    "containers": {"id3v2", "text", "platform"},
    "commit": {"text", "platform"},
    "names": {"commit", "text", "platform"},
    "formats": {"containers", "id3v2", "names", "commit", "text", "platform"},
    ".": {"formats", "containers", "id3v2", "names", "commit", "text", "platform"},
}
# The front ends drive the run: they include the engine's top headers, the
# platform (paths, text for the screen) and text (code page names, UTF-8).
FRONT_ENDS = {"cli": {".", "platform", "text"}, "wizard": {".", "platform", "text"}}

# Includes that still run back up, to be removed as the run API and the
# format table land; each is reported, none fails the check. A new one does.
KNOWN = {
    # engine.h holds the records every part shares (outcomes, jobs and their
    # callbacks); they move down to their parts with the run API.
    ("engine/commit/edit.h", "engine.h"),
    ("engine/commit/group-commit.h", "engine.h"),
    ("engine/commit/journal.h", "engine.h"),
    ("engine/containers/container-bytes.h", "engine.h"),
    ("engine/formats/container-repair.h", "engine.h"),
    ("engine/formats/container-text.h", "engine.h"),
    ("engine/formats/format.h", "engine.h"),
    ("engine/formats/id3v1-copy.h", "engine.h"),
    ("engine/formats/repair.cc", "engine.h"),
    ("engine/formats/repair.h", "engine.h"),
    ("engine/formats/vorbis-comment.h", "engine.h"),
    ("engine/id3v2/place-reading.h", "engine.h"),
    ("engine/id3v2/redecode.h", "engine.h"),
    ("engine/id3v2/tag-convert.h", "engine.h"),
    ("engine/names/playlist.h", "engine.h"),
    # The front ends still run the second pass, playlists, renames, undo and
    # the list of runs themselves; the run API takes them into the engine.
    ("cli/rename.h", "names/rename.h"),
    ("cli/run-list.cc", "commit/journal-read.h"),
    ("cli/run-list.h", "commit/journal.h"),
    ("cli/run-state.h", "commit/journal.h"),
    ("cli/run-state.h", "names/playlist.h"),
    ("cli/songwright.cc", "commit/journal.h"),
    ("cli/songwright.cc", "commit/run-lock.h"),
    ("cli/songwright.cc", "formats/format.h"),
    ("cli/songwright.cc", "names/playlist.h"),
    ("cli/undo.cc", "commit/checksum.h"),
    ("cli/undo.cc", "commit/edit.h"),
    ("cli/undo.cc", "commit/journal-read.h"),
    ("cli/undo.cc", "commit/journal-recover.h"),
    ("cli/undo.cc", "commit/journal.h"),
    ("cli/undo.cc", "commit/run-lock.h"),
    ("cli/undo.cc", "commit/side-journal.h"),
    ("cli/undo.cc", "names/rename.h"),
    ("wizard/progress-page.cc", "commit/journal.h"),
    ("wizard/wizard.cc", "commit/journal.h"),
    # Parts that still reach across: the platform header brings code pages,
    # the ID3v2 re-reading reaches into the MP3 repair and the container
    # text, playlists read places of text, code pages use the name rules.
    ("engine/id3v2/redecode.cc", "formats/container-text.h"),
    ("engine/id3v2/redecode.cc", "formats/repair.h"),
    ("engine/names/playlist.cc", "formats/container-text.h"),
    ("engine/names/playlist.h", "id3v2/place-reading.h"),
    ("engine/platform/platform.h", "text/codepage.h"),
    ("engine/text/dos-pages.cc", "names/name-decide.h"),
}

MOST_FILES = 30
LONG_LINES = 400
INCLUDE = re.compile(r'^\s*#\s*include\s+"engine/([^"]+)"', re.M)
GENERATED = ("language-model.inc", "codepage-corrections.inc")


def folder_of(relative):
    parts = relative.split("/")
    return parts[0] if len(parts) > 1 else "."


def walk(root, top):
    for folder, _, files in os.walk(os.path.join(root, top)):
        for name in files:
            if name.endswith((".cc", ".h", ".inc")):
                yield os.path.relpath(os.path.join(folder, name), root)


def check_includes(root, problems, known_seen):
    for path in sorted(walk(root, "engine")) + sorted(
            p for top in FRONT_ENDS for p in walk(root, top)):
        top, rest = path.split("/", 1)
        own = folder_of(rest) if top == "engine" else None
        allowed = RULES[own] if own else FRONT_ENDS[top]
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for included in INCLUDE.findall(text):
            target = folder_of(included)
            if target == own or target in allowed:
                continue
            if (path, included) in KNOWN:
                known_seen.add((path, included))
                continue
            where = own if own else top
            problems.append("%s includes engine/%s: %s may include %s" % (
                path, included, where, ", ".join(sorted(allowed)) or "no other folder"))


def check_folders(root, problems):
    counts = {}
    engine = os.path.join(root, "engine")
    for folder, _, files in os.walk(engine):
        relative = os.path.relpath(folder, engine)
        names = [n for n in files if n != "README.md"]
        counts[relative] = len(names)
        if relative != "." and relative not in RULES:
            problems.append("engine/%s is a folder the rules do not know" % relative)
        if len(names) > MOST_FILES:
            problems.append("engine/%s holds %d files, more than %d" % (
                relative, len(names), MOST_FILES))
        for name in names:
            if not name.endswith(".cc"):
                continue
            stem = name[:-3]
            if os.path.exists(os.path.join(folder, stem + ".h")):
                continue
            pair = re.sub(r"-(posix|win32)$", "", stem)
            if pair != stem:
                if os.path.exists(os.path.join(folder, pair + ".h")):
                    continue
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    included = INCLUDE.findall(f.read())
                if any(folder_of(i) == relative for i in included):
                    continue
            problems.append("engine/%s has no header of its own" % os.path.join(
                relative, name).replace("./", ""))
    return counts


LABEL = re.compile(r"\s*//\s+([A-Z]{1,3}[0-9]+)\.\s")


def check_labels(root, problems):
    owners = {}
    for path in walk(root, "engine"):
        if not path.endswith(".h"):
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for line in f:
                found = LABEL.match(line)
                if found:
                    owners.setdefault(found.group(1), set()).add(path)
    for label, paths in sorted(owners.items()):
        if len(paths) > 1:
            problems.append("invariant %s is numbered in %s" % (label, ", ".join(sorted(paths))))


def long_files(root):
    found = []
    for top in ("engine", "cli", "wizard"):
        for path in walk(root, top):
            if path.endswith(GENERATED):
                continue
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                lines = sum(1 for _ in f)
            if lines > LONG_LINES:
                found.append((lines, path))
    return sorted(found, reverse=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    root = os.path.abspath(parser.parse_args().root)
    problems, known_seen = [], set()
    check_includes(root, problems, known_seen)
    counts = check_folders(root, problems)
    check_labels(root, problems)
    print("engine folders: " + ", ".join(
        "%s %d" % ("engine/" if k == "." else k, v) for k, v in sorted(counts.items())))
    for rest, included in sorted(known_seen):
        print("known back-up: %s includes engine/%s" % (rest, included))
    for rest, included in sorted(KNOWN - known_seen):
        print("gone, drop it from KNOWN: %s includes engine/%s" % (rest, included))
    for lines, path in long_files(root):
        print("warning: %s has %d lines (over %d)" % (path, lines, LONG_LINES))
    for problem in problems:
        print("error: " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
