#!/usr/bin/python3
"""Scores a library after a run against the text its manifest expects.

    score.py OUT [--before SNAPSHOT] [--json] [--detail] [--show N]
    score.py --json-check FILE

Every place of every file is read with mutagen (first ID3v2 tag only) and
compared with its expected text. A file is right when all its places are,
and, for a file that was right to begin with, when its bytes are those of
the snapshot; an album is right when all its files are. Prints, per shape,
albums, files and places right, the share of albums right, the right files
whose bytes changed and the files whose bytes after the ID3v2 tag changed
(both need --before). --detail adds a row per shape, page, version and form;
--show N lists N places that read wrong. --json prints one JSON object.

--json-check FILE checks that every line of FILE (a captured --json output
of songwright) is one JSON object; exits 1 when one is not.
"""
import argparse
import json
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import frames  # noqa: E402
import snapshot  # noqa: E402
import tagio  # noqa: E402


def json_check(path):
    """(lines read, [problem, ...]) for a file that must hold one JSON object
    per line, in UTF-8."""
    with open(path, "rb") as src:
        lines = src.read().split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    if not lines:
        return 0, ["no output"]
    problems = []
    for number, raw in enumerate(lines, 1):
        line = raw.decode("utf-8", errors="replace")
        try:
            value = json.loads(raw.decode("utf-8"))
        except ValueError as error:  # UnicodeDecodeError is one too
            problems.append("line %d is not JSON in UTF-8 (%s): %.80s" % (number, error, line))
            continue
        if not isinstance(value, dict):
            problems.append("line %d is not an object: %.80s" % (number, line))
    return len(lines), problems


def new_tally():
    return {"albums": [0, 0], "files": [0, 0], "places": [0, 0]}


def count(tally, what, right):
    tally[what][0] += int(right)
    tally[what][1] += 1


def score_file(root, file, before):
    """(file right, places right, [wrong place, ...], facts) for one file."""
    path = os.path.join(root, file["path"])
    facts = {"unreadable": False, "changed": False, "after_tag_changed": False}
    tag = tagio.read_tag(path) if os.path.isfile(path) else "missing"
    if isinstance(tag, str):
        facts["unreadable"], tag = True, None
    if before is not None and file["path"] in before and os.path.isfile(path):
        now, then = snapshot.file_sums(path), before[file["path"]]
        facts["changed"] = now["sha256"] != then["sha256"]
        facts["after_tag_changed"] = now["after_tag_sha256"] != then["after_tag_sha256"]
    wrong = []
    for place in file["places"]:
        got = frames.read_place(tag, place)
        if got != place["expected"]:
            wrong.append(dict(place, got=got, path=file["path"]))
    right = not wrong and not (file["right"] and facts["changed"])
    return right, len(file["places"]) - len(wrong), wrong, facts


def detail_key(album, file):
    return "%s %s v2.%d %s" % (album["shape"], file["page"], file["version"], file["form"])


def tally_for(result, key):
    if key in result["totals"]:
        return result["totals"][key]
    return result["rows"].setdefault(key, new_tally())


def add_file(result, keys, file, outcome):
    """Counts one scored file in the rows named by keys and in the facts."""
    right, places_right, wrong, file_facts = outcome
    for key in keys:
        tally = tally_for(result, key)
        count(tally, "files", right)
        tally["places"][0] += places_right
        tally["places"][1] += len(file["places"])
    result["wrong_places"] += wrong
    facts = result["facts"]
    facts["right_files"] += int(file["right"])
    if file["right"] and file_facts["changed"]:
        facts["right_files_changed"] += 1
        result["right_files_changed"].append(file["path"])
    facts["after_tag_changed"] += int(file_facts["after_tag_changed"])
    facts["unreadable"] += int(file_facts["unreadable"])


def score_library(root, before=None, detail=False):
    """Figures of a library against its manifest (see the module's text);
    `before` is a snapshot, `detail` adds a row per shape, page, version
    and form."""
    manifest = tagio.load_manifest(root)
    result = {"library": root, "kind": manifest.get("kind"), "rows": {},
              "totals": {"wrong text": new_tally(), "right text": new_tally(), "all": new_tally()},
              "facts": {"right_files": 0, "right_files_changed": 0, "after_tag_changed": 0,
                        "unreadable": 0},
              "snapshot": before is not None, "wrong_places": [], "right_files_changed": []}
    for album in manifest["albums"]:
        album_right, details = True, set()
        for file in album["files"]:
            outcome = score_file(root, file, before)
            keys = [album["shape"], "right text" if file["right"] else "wrong text", "all"]
            if detail:
                details.add(detail_key(album, file))
                keys.append(detail_key(album, file))
            add_file(result, keys, file, outcome)
            album_right = album_right and outcome[0]
        keys = [album["shape"], "right text" if album["right"] else "wrong text", "all"]
        for key in keys + sorted(details):
            count(tally_for(result, key), "albums", album_right)
    return result


def share(pair):
    return 100.0 * pair[0] / pair[1] if pair[1] else 0.0


def fraction(pair):
    return "%d/%d" % tuple(pair)


def table(result, show):
    width = max(len(name) for name in list(result["rows"]) + list(result["totals"]))
    lines = ["Library %s (%s)" % (result["library"], result["kind"]),
             "%-*s %9s %11s %13s" % (width, "shape", "albums", "files", "places")]

    def row(name, tally):
        lines.append("%-*s %9s %11s %13s" % (width, name, fraction(tally["albums"]),
                                             fraction(tally["files"]), fraction(tally["places"])))
    for name in sorted(result["rows"]):
        row(name, result["rows"][name])
    for name, tally in result["totals"].items():
        row(name, tally)
    facts, albums = result["facts"], result["totals"]["all"]["albums"]
    lines.append("Albums right: %.1f%% (%s)" % (share(albums), fraction(albums)))
    if result["snapshot"]:
        lines.append("Right files whose bytes changed: %d of %d" % (facts["right_files_changed"],
                                                                     facts["right_files"]))
        lines.append("Files whose bytes after the ID3v2 tag changed: %d" % facts["after_tag_changed"])
    lines.append("Files whose tag mutagen cannot read: %d" % facts["unreadable"])
    for path in result["right_files_changed"][:show]:
        lines.append("  %s  was right, bytes changed" % path)
    for place in result["wrong_places"][:show]:
        lines.append("  %s  %s %s %s: %r, expected %r" % (
            place["path"], place["frame"], json.dumps(place.get("key", {}), ensure_ascii=False),
            place["field"], place["got"], place["expected"]))
    return "\n".join(lines)


def as_json(result, show):
    out = dict(result, wrong_places=result["wrong_places"][:show],
               right_files_changed=result["right_files_changed"][:show])
    out["albums_right_percent"] = round(share(result["totals"]["all"]["albums"]), 2)
    return json.dumps(out, ensure_ascii=False, sort_keys=True)


def main(argv):
    parser = argparse.ArgumentParser(description="Scores a shapes library after a run.")
    parser.add_argument("out", metavar="OUT", nargs="?")
    parser.add_argument("--before", metavar="SNAPSHOT")
    parser.add_argument("--json", action="store_true")
    parser.add_argument("--detail", action="store_true")
    parser.add_argument("--show", type=int, default=0, metavar="N")
    parser.add_argument("--json-check", metavar="FILE")
    args = parser.parse_args(argv)
    if args.json_check:
        lines, problems = json_check(args.json_check)
        for problem in problems[:20]:
            print("%s: %s" % (args.json_check, problem))
        print("JSON check: %d lines, %d not a JSON object" % (lines, len(problems)))
        return 1 if problems else 0
    if not args.out:
        parser.error("OUT is needed")
    before = None
    if args.before:
        with open(args.before, encoding="utf-8") as src:
            before = json.load(src)
    result = score_library(args.out, before, args.detail)
    print(as_json(result, args.show) if args.json else table(result, args.show))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
