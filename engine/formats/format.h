// The audio formats a run finds, and the way into each one's text.
//
// MP3 files go through the ID3v2 route (engine/formats/repair.cc). Every other
// format has a module of its own that reads the container's raw bytes
// itself (TagLib's read-then-save drops fields that are not valid UTF-8, so
// it is never the route for them) and gives the repair as one edit of the
// original file:
//
//   void Collect<Format>Text(TagLib::IOStream* file, SuggestionPool* pool)
//       Adds the text of every field that holds text (engine/formats/container-text.h)
//       to the pool, for the album decision and the file's own reading.
//       Reads only; a file it cannot read adds nothing.
//   unsigned Render<Format>Repair(TagLib::IOStream* file, const FileReading& reading,
//                                 FileOutcome* outcome, Edit* edit)
//       WM_FIX_NOT_NEEDED when no field changes. WM_FIX_SUCCEEDED with the
//       one edit (`bytes` in place of `replaced` bytes at `offset`) and each
//       changed field in outcome->changes. WM_FIX_FAILED, with
//       outcome->issue kIssueCouldNotSave and outcome->detail saying why,
//       when text needs a repair but the file cannot be rewritten without
//       losing or breaking something.
//
// Invariants of every module:
//   F1. Only the fields whose text changes are rewritten; every other
//       field, block, chunk, atom, picture and the audio keep their bytes
//       (sizes and offsets that the change moves are the only other bytes
//       an edit may change).
//   F2. The edit is checked before it is given: the new bytes are parsed
//       back and must hold every field of the old ones, the changed ones
//       with their new text.
//   F3. A container that cannot be read whole, or that holds a field the
//       module does not understand where a change would move it, is left
//       (WM_FIX_FAILED when its text needs a repair, else NOT_NEEDED).
//   F4. An edit keeps the file's length where the format has room for it
//       (padding); else, when it starts at offset 0, it grows by whole
//       4096-byte blocks where the format can pad, so that the file system
//       opens room without moving the audio (engine/commit/write-steps.h).
#pragma once

#include <taglib/tiostream.h>

#include "engine/commit/edit.h"
#include "engine/engine.h"
#include "engine/id3v2/place-reading.h"

enum class AudioFormat {
  kNone,
  kMp3,
  kFlac,  // .flac
  kOgg,   // .ogg .oga .opus: Vorbis or Opus comments
  kRiff,  // .wav .aif .aiff: RIFF or AIFF with an ID3v2 chunk and INFO
  kMp4,   // .m4a .mp4 .m4b
  kAsf,   // .wma .asf
  kApe,   // .ape .wv: an APEv2 tag at the end
  kPlaylist,  // .m3u .m3u8 .pls .cue: playlists and cue sheets (engine/names/playlist.h)
};

// The format a path names by its extension, in any letter case; playlists
// and cue sheets are found with the audio files they name.
AudioFormat FormatOfPath(const PathString& path);

