"""Tests of the scorer, the JSON line check and the real-world injector: a
perfect repair must score every album right, a touched right file or audio
must be counted, and the injector must keep what it promises."""
import json
import os
import random
import shutil
import sys

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from mutagen.id3 import ID3, PRIV, TXXX  # noqa: E402

import inject  # noqa: E402
import mixed  # noqa: E402
import mpeg  # noqa: E402
import score  # noqa: E402
import snapshot  # noqa: E402
import tagio  # noqa: E402
from test_shapes import HERE as SCRIPTS, TempHome, run  # noqa: E402


def perfect_repair(root, file):
    """Rewrites a file as a perfect repair would: every place stored as
    right UTF-16 text, the ID3v1 tag and the audio kept."""
    fixed = dict(file, form="right-utf16", places=[])
    for place in file["places"]:
        place = {k: v for k, v in place.items() if k not in ("form", "from")}
        fixed["places"].append(place)
    path = os.path.join(root, file["path"])
    with open(path, "rb") as src:
        data = src.read()
    rest = data[mpeg.id3v2_end(data):]
    with open(path, "wb") as out:
        out.write(rest)
    tag = tagio.build_tag(fixed)
    if fixed["version"] == 3:
        tag.update_to_v23()
    tag.save(path, v1=0, v2_version=fixed["version"])  # mutagen would rewrite an ID3v1 tag...
    with open(path, "r+b") as out:  # ...so the file gets back its own bytes after the tag
        out.seek(mpeg.id3v2_end(out.read()))
        out.write(rest)
        out.truncate()


class Scoring(TempHome):
    def setUp(self):
        super().setUp()
        self.root = os.path.join(self.tmp, "lib")
        result = run(os.path.join(SCRIPTS, "make-library.py"), self.root, "--albums", "24", "--seed", "9")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.before = snapshot.snapshot(self.root)
        self.manifest = tagio.load_manifest(self.root)

    def test_a_library_as_generated_has_only_its_right_files_right(self):
        result = score.score_library(self.root, self.before)
        right = sum(f["right"] for _, f in tagio.manifest_files(self.manifest))
        self.assertEqual(result["totals"]["all"]["files"][0], right)
        self.assertEqual(result["totals"]["wrong text"]["files"][0], 0)
        self.assertEqual(result["facts"]["right_files_changed"], 0)

    def test_a_perfect_repair_scores_every_album_right(self):
        for _, file in tagio.manifest_files(self.manifest):
            if not file["right"]:
                perfect_repair(self.root, file)
        result = score.score_library(self.root, self.before)
        total = result["totals"]["all"]
        self.assertEqual(total["albums"][0], total["albums"][1], result["wrong_places"][:3])
        self.assertEqual(total["places"][0], total["places"][1])
        self.assertEqual(result["facts"]["after_tag_changed"], 0)

    def test_a_right_file_touched_or_an_audio_byte_changed_is_counted(self):
        files = [f for _, f in tagio.manifest_files(self.manifest)]
        right = next(f for f in files if f["right"])
        wrong = next(f for f in files if not f["right"])
        tag = ID3(os.path.join(self.root, right["path"]))
        tag.save(os.path.join(self.root, right["path"]), v2_version=right["version"], padding=lambda _: 7)
        with open(os.path.join(self.root, wrong["path"]), "r+b") as audio:
            audio.seek(-300, os.SEEK_END)
            audio.write(b"\x01")
        result = score.score_library(self.root, self.before)
        self.assertEqual(result["facts"]["right_files_changed"], 1)
        self.assertEqual(result["right_files_changed"], [right["path"]])
        self.assertEqual(result["facts"]["after_tag_changed"], 1)
        self.assertEqual(result["totals"]["right text"]["files"][1] - 1,
                         result["totals"]["right text"]["files"][0])

    def test_a_missing_or_broken_file_reads_wrong(self):
        files = [f for _, f in tagio.manifest_files(self.manifest) if f["right"]]
        os.remove(os.path.join(self.root, files[0]["path"]))
        with open(os.path.join(self.root, files[1]["path"]), "r+b") as broken:
            broken.seek(6)
            broken.write(b"\x7f\x7f\x7f\x7f")  # a tag larger than the file
        result = score.score_library(self.root, self.before)
        self.assertEqual(result["facts"]["unreadable"], 2)
        self.assertEqual(result["totals"]["right text"]["files"][0],
                         result["totals"]["right text"]["files"][1] - 2)

    def test_the_command_prints_a_table_and_json(self):
        result = run(os.path.join(SCRIPTS, "score.py"), self.root, "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("albums_right_percent", json.loads(result.stdout))
        table = run(os.path.join(SCRIPTS, "score.py"), self.root, "--detail").stdout
        self.assertIn("Albums right:", table)
        self.assertIn("latin1-legacy cp", table)


class JsonCheck(TempHome):
    def check(self, data):
        path = os.path.join(self.tmp, "out.jsonl")
        with open(path, "wb") as out:
            out.write(data)
        return score.json_check(path)

    def test_objects_pass_and_anything_else_fails(self):
        self.assertEqual(self.check(b'{"type":"file"}\n{"type":"summary"}\n'), (2, []))
        lines, problems = self.check(b'{"a":1}\nalbum\tKino\tcp1251\n[1]\n"x"\n\xff\n')
        self.assertEqual(lines, 5)
        self.assertEqual([p.split()[1] for p in problems], ["2", "3", "4", "5"])
        self.assertEqual(self.check(b""), (0, ["no output"]))


def silent_mp3(path, tag=None):
    with open(path, "wb") as out:
        out.write(mpeg.silent_audio(12))
    if tag is not None:
        tag.save(path)


class Injection(TempHome):
    def make_source(self):
        src = os.path.join(self.tmp, "src", "suite")
        os.makedirs(src)
        tag = ID3()
        tag.add(PRIV(owner="example.org", data=b"\x00\x01"))
        tag.add(TXXX(encoding=0, desc="Stimmung", text=["fröhlich"]))
        silent_mp3(os.path.join(src, "a.mp3"), tag)
        for name in ("b.mp3", "c.MP3", "d.mp3", "e.mp3"):
            silent_mp3(os.path.join(src, name))
        with open(os.path.join(src, "broken.mp3"), "wb") as out:
            out.write(b"ID3\x03\x00\x00\x7f\x7f\x7f\x7f" + bytes(64))
        with open(os.path.join(src, "notes.txt"), "w") as out:
            out.write("not a song\n")
        return os.path.dirname(src)

    def test_copies_rewrite_and_skip_as_told(self):
        src = self.make_source()
        before = snapshot.snapshot(src)
        out = os.path.join(self.tmp, "out")
        result = run(os.path.join(SCRIPTS, "inject-realworld.py"), src, out, "--album-size", "5")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("skipped 1 ", result.stdout)
        self.assertEqual(snapshot.snapshot(src), before)
        manifest = tagio.load_manifest(out)
        self.assertEqual([s["source"] for s in manifest["skipped"]], ["suite/broken.mp3"])
        files = [f for _, f in tagio.manifest_files(manifest)]
        self.assertEqual(sorted(f["source"] for f in files),
                         ["suite/a.mp3", "suite/b.mp3", "suite/c.MP3", "suite/d.mp3", "suite/e.mp3"])
        first = next(f for f in files if f["source"] == "suite/a.mp3")
        tag = ID3(os.path.join(out, first["path"]))
        self.assertTrue(tag.getall("PRIV"))
        self.assertNotIn("fröhlich", [t for f in tag.getall("TXXX") for t in f.text])
        check = run(os.path.join(SCRIPTS, "make-library.py"), "--check", out)
        self.assertEqual(check.returncode, 0, check.stdout)

    def test_a_small_album_takes_no_mixed_shape(self):
        self.assertEqual(inject._fitting_shape("two-pages", mixed.MIXED_MINIMUM - 1), "latin1-legacy")
        self.assertEqual(inject._fitting_shape("compilation", mixed.MIXED_MINIMUM), "compilation")
        names = inject.shape_round(random.Random(1), 40)
        self.assertEqual(set(names[:18]), set(names))

    def test_the_real_world_files_pass_the_check(self):
        src = os.environ.get("SONGWRIGHT_REALWORLD") or os.path.join(SCRIPTS, "..", "..", "..", "shared",
                                                                    "realworld")
        if not os.path.isdir(src):
            self.skipTest("no real-world files at " + src)
        out = os.path.join(self.tmp, "rw")
        result = run(os.path.join(SCRIPTS, "inject-realworld.py"), src, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        check = run(os.path.join(SCRIPTS, "make-library.py"), "--check", out)
        self.assertEqual(check.returncode, 0, check.stdout)
        shutil.rmtree(out)
