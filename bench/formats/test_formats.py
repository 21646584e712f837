#!/usr/bin/python3
"""Tests of the mixed-format kit: the generated files read back (with
mutagen and with fields.py) as the manifest says, the scorer counts what a
careless or perfect repair does, and the injector keeps its promises. Run
directly it runs them all (exit 77, skipped, without mutagen or ffmpeg)."""
import importlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "shapes"))
sys.path.insert(0, HERE)

import audio  # noqa: E402
import fields  # noqa: E402
import library  # noqa: E402
import plan  # noqa: E402
import score  # noqa: E402
import snapshot  # noqa: E402
import writers  # noqa: E402


def run(*args):
    return subprocess.run(args, capture_output=True, text=True)


def entries(manifest):
    return [f for album in manifest["albums"] for f in album["files"]]


class Library:
    """One library of every kind of album, made once for the module and
    only read by the tests (Scoring copies it)."""
    root = manifest = _tmp = None


def setUpModule():
    Library._tmp = tempfile.TemporaryDirectory()
    Library.root = os.path.join(Library._tmp.name, "lib")
    result = run(os.path.join(HERE, "make-library.py"), "--albums", str(len(plan.kinds()) + 1),
                 "--seed", "5", Library.root)
    assert result.returncode == 0, result.stderr
    Library.manifest = score.load_manifest(Library.root)


def tearDownModule():
    Library._tmp.cleanup()


class Generated(unittest.TestCase):
    def setUp(self):
        self.root, self.manifest = Library.root, Library.manifest

    def test_every_file_holds_what_its_entry_says(self):
        problems = [(f["path"], p) for f in entries(self.manifest)
                    for p in library.check_file(self.root, f)]
        self.assertEqual(problems, [])

    def test_every_format_and_shape_is_made(self):
        made = {(f["format"], f["shape"]) for f in entries(self.manifest)}
        wanted = {(fmt, s) for fmt in plan.SHAPES for s in plan.SHAPES[fmt] if s != "per-track"}
        self.assertEqual(wanted - made, set())
        self.assertTrue(any(a["format"] == "mixed" for a in self.manifest["albums"]))

    def test_raw_fields_are_not_utf8_and_the_others_read_the_same_in_mutagen(self):
        import mutagen
        raw = [f for f in entries(self.manifest) if f["shape"] == "raw-page"]
        self.assertTrue(raw)
        for file in raw:
            for key, hexed in file["stored"].items():
                self.assertRaises(UnicodeDecodeError, bytes.fromhex(hexed).decode, "utf-8")
        keys = {"flac": "title", "ogg": "title", "opus": "title", "m4a": "\xa9nam", "wma": "Title"}
        for file in entries(self.manifest):
            if file["format"] in keys and file["shape"] != "raw-page":
                song = mutagen.File(os.path.join(self.root, file["path"]))
                stored = bytes.fromhex(file["stored"][writers.field_id(file["format"], "title")])
                text = stored.decode("utf-16-le" if file["format"] == "wma" else "utf-8")
                self.assertEqual(str(song.tags[keys[file["format"]]][0]), text, file["path"])

    def test_fields_a_careless_writer_loses_are_there(self):
        for file in entries(self.manifest):
            kept = set(file["kept"])
            if file["format"] == "flac":
                self.assertTrue({"vc:#0", "picture#0"} <= kept, file["path"])
            if file["format"] == "m4a":
                self.assertTrue({"mp4:----:com.example.bench:BLOB#0", "mp4:covr#0"} <= kept)
            if file["format"] == "wav" and file["shape"].startswith("info"):
                self.assertTrue({"info:INAM#0", "info:IART#0", "info:IPRD#0"} <= kept)
            if file["format"] in ("ape", "wv"):
                self.assertIn("ape:COVER ART (FRONT)#0", kept)


class Scoring(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.root = os.path.join(self._tmp.name, "lib")
        shutil.copytree(Library.root, self.root)
        self.manifest = score.load_manifest(self.root)
        self.before = snapshot.snapshot(self.root)

    def tearDown(self):
        self._tmp.cleanup()

    def first(self, fmt, right, shape=None):
        return next(f for f in entries(self.manifest) if f["format"] == fmt and
                    f["right"] == right and (shape is None or f["shape"] == shape))

    def score(self):
        return score.score_library(self.manifest, self.root, self.before)["rows"]

    def test_as_made_only_right_files_are_right(self):
        rows = self.score()
        right = sum(f["right"] for f in entries(self.manifest))
        self.assertEqual(rows["all"]["right"], right)
        self.assertEqual(rows["all"]["right_files"], right)
        self.assertEqual([rows["all"][k] for k in ("right_changed", "lost", "kept_changed",
                                                   "audio_changed", "unreadable")], [0] * 5)

    def test_a_careless_save_loses_a_field_and_changes_a_right_file(self):
        from mutagen.flac import FLAC
        right = self.first("flac", True)
        song = FLAC(os.path.join(self.root, right["path"]))
        song.save()  # the comment without '=' comes back under a made-up key
        rows = self.score()
        self.assertEqual(rows["flac"]["lost"], 1)
        self.assertEqual(rows["flac"]["right_changed"], 1)
        self.assertEqual(rows["flac"]["right"], rows["flac"]["right_files"] - 1)

    def test_a_perfect_repair_is_right_and_a_broken_file_is_not(self):
        wrong = self.first("ape", False, "raw-page")
        path = os.path.join(self.root, wrong["path"])
        with open(path, "rb") as src:
            data = src.read()
        start, end, items = fields.ape_items(data)
        by_id = {"ape:%s#0" % k.upper(): k for k, _, _ in items}
        fixed = [(k, f, wrong["expected"][i].encode() if i in wrong["expected"] else v)
                 for (k, f, v), i in zip(items, ("ape:%s#0" % k.upper() for k, _, _ in items))]
        self.assertEqual(len(by_id), len(items))
        with open(path, "wb") as out:
            out.write(data[:start] + writers.ape_tag(fixed) + data[end:])
        broken = self.first("m4a", True)
        os.remove(os.path.join(self.root, broken["path"]))
        rows = self.score()
        self.assertEqual(rows["ape"]["right"], rows["ape"]["right_files"] + 1)
        self.assertEqual(rows["ape"]["lost"] + rows["ape"]["audio_changed"], 0)
        self.assertEqual(rows["m4a"]["right"], rows["m4a"]["right_files"] - 1)
        self.assertEqual(rows["m4a"]["unreadable"], 1)

    def test_an_audio_byte_changed_is_counted(self):
        inside = {"wav": lambda d: d.index(b"data") + 18, "aiff": lambda d: d.index(b"SSND") + 26,
                  "flac": lambda d: len(d) - len(audio.flac_audio(d)) + 10,
                  "m4a": lambda d: d.index(b"mdat") + 20, "wma": lambda d: d.index(audio.ASF_DATA) + 90,
                  "ogg": lambda d: len(d) - 10, "wv": lambda d: audio.trailing_tags_start(d) - 40,
                  "mp3": lambda d: audio.trailing_tags_start(d) - 40}
        for fmt, where in inside.items():
            file = self.first(fmt, False)
            self.assertIsNotNone(file["audio"], fmt)
            with open(os.path.join(self.root, file["path"]), "r+b") as out:
                data = bytearray(out.read())
                data[where(bytes(data))] ^= 0x01
                out.seek(0)
                out.write(data)
        rows = self.score()
        for fmt in inside:
            self.assertEqual(rows[fmt]["audio_changed"], 1, fmt)

    def test_the_command_prints_a_table_and_a_json_line(self):
        result = run(os.path.join(HERE, "score.py"), self.root, self.root)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertTrue(lines[1].startswith("format"))
        self.assertEqual(json.loads(lines[-1])["rows"]["all"]["files"], len(entries(self.manifest)))


class Injection(unittest.TestCase):
    def test_copies_rewrite_and_skip_as_told(self):
        with tempfile.TemporaryDirectory() as tmp:
            src, out = os.path.join(tmp, "src", "suite"), os.path.join(tmp, "out")
            os.makedirs(src)
            right = [f for f in entries(Library.manifest) if f["right"]]
            for fmt in ("m4a", "wma", "wv", "wav", "flac"):
                file = next(f for f in right if f["format"] == fmt)
                name = "kept.flac" if fmt == "flac" else "song." + audio.FORMATS[fmt][0]
                shutil.copyfile(os.path.join(Library.root, file["path"]), os.path.join(src, name))
            tones = audio.make_tones(os.path.join(tmp, "tones"))
            shutil.copyfile(tones["ogg"], os.path.join(src, "song.ogg"))
            shutil.copyfile(tones["ogg"], os.path.join(src, "segfault.ogg"))
            with open(os.path.join(src, "notes.md"), "w") as note:
                note.write("not a song\n")
            before = snapshot.snapshot(src)
            result = run(os.path.join(HERE, "inject-realworld.py"), os.path.dirname(src), out)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(snapshot.snapshot(src), before)
            manifest = score.load_manifest(out)
            made = {os.path.basename(f["path"]): f for f in entries(manifest)}
            self.assertEqual(sorted(made), ["kept.flac", "song.m4a", "song.ogg", "song.wav",
                                            "song.wma", "song.wv"])
            # a comment with no '=' would come back under a made-up key: copied as it is
            self.assertEqual(made.pop("kept.flac")["why"], "the rewrite changed other fields")
            self.assertEqual([n for n, f in made.items() if f["right"]], [])
            self.assertEqual(sorted(manifest["skipped"]), ["suite/notes.md", "suite/segfault.ogg"])
            made = made.values()
            for file in made:
                self.assertEqual(library.check_file(out, file), [], file["path"])


def main():
    for module in ("mutagen",):
        try:
            importlib.import_module(module)
        except ImportError:
            print("SKIPPED: python3-mutagen is not installed")
            return 77
    if not audio.have_ffmpeg():
        print("SKIPPED: ffmpeg is not installed")
        return 77
    suite = unittest.defaultTestLoader.discover(HERE, pattern="test_*.py")
    result = unittest.TextTestRunner(verbosity=1).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
