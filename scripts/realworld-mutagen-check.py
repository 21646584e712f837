#!/usr/bin/python3
"""Cross-checks the repair with another reader over real-world files.

    realworld-mutagen-check.py SONGWRIGHT [REALWORLD]

Copies every MP3 file of REALWORLD (default: ../shared/realworld beside the
repository) into a temporary folder twice, each time with cp1251 text written
by mutagen into Latin-1 frames (TIT2, TPE1, TALB, a TXXX, and a COMM that the
repair must leave alone), once as ID3v2.3 and once as ID3v2.4, then runs
SONGWRIGHT --codepage 1251 --no-journal over the folder and compares what
mutagen reads before and after: every frame must read the same, except the
re-decoded ones, which must read as the cp1251 text. Files mutagen cannot
read or write are skipped and counted. Prints the figures; exits 1 when a
frame was lost or changed or bytes after the tag changed.
"""
import os
import shutil
import subprocess
import sys
import tempfile

from mutagen.id3 import ID3, TALB, TIT2, TPE1, TXXX, COMM, ID3NoHeaderError

CYRILLIC = {
    "TIT2": "Группа крови",
    "TPE1": "Кино",
    "TALB": "Звезда по имени Солнце",
}
TXXX_DESCRIPTION = "Настроение"
TXXX_VALUE = "спокойное"
COMMENT = "Комментарий остаётся как есть"


def as_mojibake(text):
    """cp1251 bytes read as Latin-1, as a Latin-1 frame stores them."""
    return text.encode("cp1251").decode("latin-1")


def inject(path, version):
    try:
        tag = ID3(path)
    except ID3NoHeaderError:
        tag = ID3()
    tag.setall("TIT2", [TIT2(encoding=0, text=[as_mojibake(CYRILLIC["TIT2"])])])
    tag.setall("TPE1", [TPE1(encoding=0, text=[as_mojibake(CYRILLIC["TPE1"])])])
    tag.setall("TALB", [TALB(encoding=0, text=[as_mojibake(CYRILLIC["TALB"])])])
    tag.add(TXXX(encoding=0, desc=as_mojibake(TXXX_DESCRIPTION), text=[as_mojibake(TXXX_VALUE)]))
    tag.add(COMM(encoding=0, lang="rus", desc="", text=[as_mojibake(COMMENT)]))
    tag.save(path, v2_version=version)


def frames(path):
    return dict(ID3(path).items())


def redecoded(frame):
    """The text of a Latin-1 text frame holding bytes above 0x7F, re-decoded
    through cp1251; None for any other frame."""
    if (not frame.FrameID.startswith("T") or getattr(frame, "encoding", None) != 0 or
            not hasattr(frame, "text")):
        return None
    texts = [str(t) for t in frame.text]
    if frame.FrameID == "TXXX":
        texts = [frame.desc] + texts
    if not any(ord(c) > 0x7F for t in texts for c in t):
        return None
    return [t.encode("latin-1").decode("cp1251", errors="replace") for t in texts]


def tag_end(data):
    if data[:3] != b"ID3":
        return 0
    size = 0
    for b in data[6:10]:
        size = (size << 7) | (b & 0x7F)
    return 10 + size + (10 if data[3] == 4 and data[5] & 0x10 else 0)


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    songwright = os.path.abspath(sys.argv[1])
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    source = sys.argv[2] if len(sys.argv) > 2 else os.path.join(repo, "..", "shared", "realworld")
    work = tempfile.mkdtemp(prefix="songwright-mutagen-")
    try:
        music = os.path.join(work, "music")
        os.makedirs(music)
        originals = sorted(
            os.path.join(d, f) for d, _, fs in os.walk(source) for f in fs if f.endswith(".mp3"))
        before, skipped = {}, 0
        for index, original in enumerate(originals):
            for version in (3, 4):
                name = "%03d-v2%d-%s" % (index, version, os.path.basename(original))
                copy = os.path.join(music, name)
                shutil.copyfile(original, copy)
                try:
                    inject(copy, version)
                    before[name] = (frames(copy), open(copy, "rb").read())
                except Exception:  # mutagen cannot read or write this file
                    os.remove(copy)
                    skipped += 1
        env = dict(os.environ, HOME=work, XDG_STATE_HOME=os.path.join(work, "state"))
        run = subprocess.run([songwright, "--codepage", "1251", "--no-journal", music],
                             capture_output=True, text=True, env=env, timeout=600)
        fixed, failed = set(), {}
        for line in run.stdout.splitlines():
            parts = line.split("\t")
            if parts[0] == "fixed":
                fixed.add(parts[1])
            elif parts[0] == "failed":
                failed[parts[1]] = parts[2] if len(parts) > 2 else ""

        lost, outside = 0, 0
        for name, (old, old_bytes) in sorted(before.items()):
            path = os.path.join(music, name)
            new_bytes = open(path, "rb").read()
            if name not in fixed:
                if new_bytes != old_bytes:
                    outside += 1
                    print("changed without a repair:", name)
                continue
            if old_bytes[tag_end(old_bytes):] != new_bytes[tag_end(new_bytes):]:
                outside += 1
                print("bytes after the tag changed:", name)
            new = frames(path)
            by_text = {}
            for frame in new.values():
                if frame.FrameID.startswith("T") and hasattr(frame, "text"):
                    texts = [str(t) for t in frame.text]
                    if frame.FrameID == "TXXX":
                        texts = [frame.desc] + texts
                    by_text.setdefault(frame.FrameID, []).append(texts)
            for key, frame in old.items():
                expected = redecoded(frame)
                if expected is not None:
                    if expected not in by_text.get(frame.FrameID, []):
                        lost += 1
                        print("%s: %s not re-decoded" % (name, key))
                elif key not in new or repr(new[key]) != repr(frame):
                    lost += 1
                    print("%s: %s lost or changed" % (name, key))
        print("%d files, %d injected copies (%d that mutagen could not write skipped)" %
              (len(originals), len(before), skipped))
        print("repaired %d, refused %d, needing nothing %d" %
              (len(fixed), len(failed), len(before) - len(fixed) - len(failed)))
        for name, reason in sorted(failed.items()):
            print("  refused", name, reason)
        print("frames lost or changed: %d; files with bytes after the tag changed: %d" %
              (lost, outside))
        return 1 if lost or outside else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
