#!/usr/bin/env python3
"""Moves the engine's files into their folders and rewrites every path that
names them, as tools/engine-layout.txt says.

    python3 scripts/move-engine.py [--no-git] [--root DIR]

Safe to run again: a file already in its folder is left where it is, and a
path already rewritten matches nothing. Steps:
  1. every file directly in engine/ must have a line in the layout; the
     script lists those that have none and stops before changing anything;
  2. every file still at engine/FILE moves to engine/FOLDER/FILE (`git mv`
     for a tracked file, a plain rename for a new one or with --no-git, for
     a tree that is not a checkout);
  3. every "engine/FILE" in the sources, the CMake files, the scripts and the
     documents becomes "engine/FOLDER/FILE", and the source lists of
     engine/CMakeLists.txt name each file by its folder.
"""
import argparse
import os
import re
import subprocess
import sys

# Where paths naming engine files are rewritten. tests/data holds only
# samples and is left alone.
REWRITE_ROOTS = ["engine", "cli", "wizard", "tests", "bench", "tools", "resources", "docs",
                 "scripts", "cmake", "packaging"]
REWRITE_FILES = ["CMakeLists.txt", "README.md"]
SKIP_DIRS = {os.path.join("tests", "data"), "build"}
TEXT_SUFFIXES = (".cc", ".h", ".inc", ".rc", ".txt", ".cmake", ".md", ".sh", ".py", ".awk",
                 ".in", ".manifest", ".yml", ".yaml", ".ps1", ".bat", ".nsi", ".wxs")
LAYOUT = os.path.join("tools", "engine-layout.txt")
SELF = os.path.join("scripts", "move-engine.py")


def read_layout(root):
    layout = {}
    with open(os.path.join(root, LAYOUT), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            parts = line.split()
            if len(parts) != 2:
                sys.exit("%s:%d: expected 'file folder'" % (LAYOUT, number))
            name, folder = parts
            if name in layout and layout[name] != folder:
                sys.exit("%s:%d: %s is placed twice" % (LAYOUT, number, name))
            layout[name] = folder
    return layout


def unplaced(root, layout):
    engine = os.path.join(root, "engine")
    return sorted(n for n in os.listdir(engine)
                  if os.path.isfile(os.path.join(engine, n)) and n not in layout)


def tracked(root, path):
    found = subprocess.run(["git", "ls-files", "--error-unmatch", path], cwd=root,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return found.returncode == 0


def move_files(root, layout, use_git):
    moved = 0
    for name, folder in sorted(layout.items()):
        if folder == ".":
            continue
        old = os.path.join("engine", name)
        new = os.path.join("engine", folder, name)
        if not os.path.isfile(os.path.join(root, old)):
            continue  # moved already, or gone from this tree
        if os.path.exists(os.path.join(root, new)):
            sys.exit("both %s and %s exist" % (old, new))
        os.makedirs(os.path.join(root, "engine", folder), exist_ok=True)
        if use_git and tracked(root, old):
            subprocess.run(["git", "mv", old, new], cwd=root, check=True)
        else:
            os.rename(os.path.join(root, old), os.path.join(root, new))
        moved += 1
    return moved


def path_pattern(layout):
    names = sorted((n for n, f in layout.items() if f != "."), key=len, reverse=True)
    alternatives = "|".join(re.escape(n) for n in names)
    # "engine/FILE" not followed by more of a file name; "engine/FOLDER/FILE"
    # never matches since FOLDER/ is not a file of the layout.
    return re.compile(r"(?<![\w.-])engine/(%s)(?![\w.-])" % alternatives)


def source_list_pattern(layout):
    names = sorted((n for n, f in layout.items() if f != "." and n.endswith(".cc")),
                   key=len, reverse=True)
    alternatives = "|".join(re.escape(n) for n in names)
    return re.compile(r"(?<![\w./${}-])(%s)(?![\w.-])" % alternatives)


def candidate_files(root):
    for top in REWRITE_FILES:
        if os.path.isfile(os.path.join(root, top)):
            yield top
    for top in REWRITE_ROOTS:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            relative = os.path.relpath(folder, root)
            dirs[:] = [d for d in dirs if os.path.join(relative, d) not in SKIP_DIRS]
            for name in files:
                path = os.path.join(relative, name)
                if path in (LAYOUT, SELF):
                    continue  # they name the old places on purpose
                if name.endswith(TEXT_SUFFIXES) or name == "CMakeLists.txt":
                    yield path


def rewrite_paths(root, layout):
    pattern = path_pattern(layout)
    sources = source_list_pattern(layout)
    changed = 0
    for path in candidate_files(root):
        full = os.path.join(root, path)
        try:
            with open(full, encoding="utf-8") as f:
                text = f.read()
        except UnicodeDecodeError:
            continue
        new = pattern.sub(lambda m: "engine/%s/%s" % (layout[m.group(1)], m.group(1)), text)
        if path == os.path.join("engine", "CMakeLists.txt"):
            new = sources.sub(lambda m: "%s/%s" % (layout[m.group(1)], m.group(1)), new)
        if new != text:
            with open(full, "w", encoding="utf-8") as f:
                f.write(new)
            changed += 1
    return changed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--no-git", action="store_true",
                        help="rename files directly instead of with git mv")
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    layout = read_layout(root)
    missing = unplaced(root, layout)
    if missing:
        print("engine files without a line in %s:" % LAYOUT, file=sys.stderr)
        for name in missing:
            print("  engine/" + name, file=sys.stderr)
        return 1
    moved = move_files(root, layout, not args.no_git)
    changed = rewrite_paths(root, layout)
    print("moved %d files, rewrote paths in %d files" % (moved, changed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
