// Playlists and cue sheets (.m3u, .m3u8, .pls, .cue): the text of their
// titles and the paths of their entries, read and repaired per file as the
// text of a tag is, and their entries kept naming the files they name when
// those files or their folders are renamed.
//
// A playlist is text in one encoding as a whole: UTF-8 when it starts with a
// UTF-8 byte-order mark or is valid UTF-8 throughout, else code-page bytes.
// Each line's text (a title, a performer, an entry's path, a comment) is one
// field, read as engine/formats/container-text.h reads a UTF-8 field.
//
// Calling sequence, per playlist of an album:
//   1. CollectPlaylistText into a pool of the file's own text
//      (pool.distinctTexts set), and into the album's pool;
//   2. ReadingOfTexts over the file's own pool with the album's redecoding;
//   3. RenderPlaylistRepair with that reading and the run's renames (when
//      names are repaired too), after every name of the run is decided; the
//      edit is then saved like a tag's, by the same journaled route.
// Invariants:
//   PL1. Right text never changes: a line that is ASCII or right UTF-8 keeps
//       its bytes, and a playlist whose text needs nothing and whose entries
//       name nothing renamed is NOT_NEEDED.
//   PL2. Code-page text read through a page comes back as UTF-8, the whole
//       file with it, and a converted .m3u or .cue starts with a UTF-8
//       byte-order mark (a .m3u8 or .pls gets none); line breaks (CRLF, LF,
//       CR), a missing final break and an existing mark are kept exactly.
//       A .m3u, .pls or .cue of code-page text that no page reads better
//       than Western text is right as it is (its format allows the ANSI
//       page) and stays; a .m3u8 of code-page bytes always becomes UTF-8.
//   PL3. An entry naming a renamed file, or a file below a renamed folder,
//       is rewritten to the new name in the same form: relative stays
//       relative, absolute absolute, a file:// URL a URL with the same
//       percent-encoding; its separators and its other steps keep their
//       text.
//   PL4. An entry that names an existing file which is not renamed keeps
//       naming it. When the new encoding cannot name it (its name is
//       code-page bytes that UTF-8 cannot hold, as when the run leaves it for
//       another entry that has its repaired name, or for its length), those
//       steps keep their bytes and the note says which lines; without
//       renames the playlist is left as it is instead (kPlaylistLeftNote),
//       which is no failure: it is repaired with the names (--rename).
//       Every entry that names a file before the run names it after.
//   PL5. The new bytes are split and parsed back before the edit is given:
//       every line is unchanged or holds exactly its intended change in the
//       same place of the same kind of line; else FAILED (F2).
//   PL6. A playlist is read whole only up to kPlaylistSizeLimit; a larger
//       one, or one that is not text (a NUL byte, a UTF-16 byte-order
//       mark), is left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include <taglib/tiostream.h>

#include "engine/commit/edit.h"
#include "engine/engine.h"
#include "engine/id3v2/place-reading.h"
#include "engine/text/text-pool.h"

enum class PlaylistKind { kNone, kM3u, kM3u8, kPls, kCue };

constexpr std::uint64_t kPlaylistSizeLimit = 4ull << 20;
// Changed lines listed in a preview; the rest are counted.
constexpr std::size_t kPreviewLines = 20;

// Why a playlist stays as it is while the names of its files do (PL4).
constexpr const wchar_t* kPlaylistLeftNote = L"left: names a file whose name stays as it is";

// The kind of playlist a path names by its extension, in any letter case.
PlaylistKind PlaylistKindOfPath(const PathString& path);

// The renames of a run: the old full path of each renamed file or folder to
// its new full path. A rename keeps the parent folder (which may itself be
// renamed); a path below a renamed folder is renamed with it. Paths are
// stored from the root (made absolute against the current folder).
struct PlaylistRenames {
  std::map<PathString, PathString> paths;
};
void AddPlaylistRename(PlaylistRenames* renames, const PathString& from, const PathString& to);
// The new full path of `path` (from the root) when it or a folder on it is
// renamed; false when nothing on it is.
bool RenamedPath(const PlaylistRenames& renames, const PathString& path, PathString* renamed);

// Adds the text of titles, performers, comments and entry paths. Reads
// only; a playlist it cannot read adds nothing.
void CollectPlaylistText(TagLib::IOStream* file, PlaylistKind kind, SuggestionPool* pool);

// The whole file rewritten as one edit (offset 0, the file's length
// replaced) when any line changes; each changed line in outcome->changes
// (the first kPreviewLines). `renames` may be null; `playlistPath` is the
// playlist's path as found (its old name), against which relative entries
// resolve.
unsigned RenderPlaylistRepair(TagLib::IOStream* file, PlaylistKind kind, const FileReading& reading,
                              const PlaylistRenames* renames, const PathString& playlistPath,
                              FileOutcome* outcome, Edit* edit);
