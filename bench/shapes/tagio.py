"""Writing a file's tags as the manifest describes them, reading them back,
and the manifest itself (OUT/manifest.json)."""
import json
import os

from mutagen.id3 import ID3, Frames, ID3NoHeaderError

import forms
import frames
import mpeg

MANIFEST = "manifest.json"
FORMAT = 1


def build_tag(file, tag=None):
    """The ID3v2 tag of a manifest file (added to `tag` when given)."""
    tag = ID3() if tag is None else tag
    form, page = file["form"], file["page"]
    for frame_id, text in file["plain"].items():
        tag.add(Frames[frame_id](encoding=forms.encoding(form), text=[text]))
    chapters = []
    for group in frames.groups(file["places"]):
        frame = frames.build_frame(group, form, page)
        tag.add(frame)
        if frame.FrameID == "CHAP":
            chapters.append(frame.element_id)
    if chapters:
        tag.add(frames.table_of_contents(chapters))
    return tag


def id3v1_bytes(file):
    """The ID3v1 block of a manifest file, or None."""
    v1 = file.get("id3v1")
    if not v1:
        return None
    page = file["page"]
    return mpeg.id3v1_block(v1["title"].encode(page), v1["artist"].encode(page),
                            v1["album"].encode(page), v1["year"].encode("ascii"), v1["track"])


def save_tag(tag, path, file):
    """Saves the tag in the file's ID3v2 version, drops an ID3v1 tag the
    file had and appends the manifest's own, if any."""
    if file["version"] == 3:
        tag.update_to_v23()
    tag.save(path, v1=0, v2_version=file["version"])
    block = id3v1_bytes(file)
    if block:
        with open(path, "ab") as out:
            out.write(block)


def write_generated(root, file, audio_frames):
    """A new file of silent audio with the manifest file's tags."""
    path = os.path.join(root, file["path"])
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(mpeg.silent_audio(audio_frames))
    save_tag(build_tag(file), path, file)


def read_tag(path):
    """The first ID3v2 tag of a file as mutagen reads it (ID3v1 aside), None
    when it has none, or the error mutagen raised as a string."""
    try:
        return ID3(path, load_v1=False)
    except ID3NoHeaderError:
        return None
    except Exception as error:  # a broken tag is a result, not a crash
        return "%s: %s" % (type(error).__name__, error)


def write_manifest(root, manifest):
    with open(os.path.join(root, MANIFEST), "w", encoding="utf-8") as out:
        json.dump(manifest, out, ensure_ascii=False, indent=1)
        out.write("\n")


def load_manifest(root):
    with open(os.path.join(root, MANIFEST), encoding="utf-8") as src:
        manifest = json.load(src)
    if manifest.get("format") != FORMAT:
        raise ValueError("%s: unknown manifest format %r" % (root, manifest.get("format")))
    return manifest


def manifest_files(manifest):
    """(album, file) for every file of a manifest, in order."""
    for album in manifest["albums"]:
        for file in album["files"]:
            yield album, file
