// The inside of a playlist, shared by the files of engine/names/playlist.h: its
// lines, what each line holds, and its entries' paths.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/names/playlist.h"

// One line: its bytes and the break that ends it ("\r\n", "\n", "\r", or
// nothing at the end of the file).
struct PlaylistLine {
  std::string text;
  std::string ending;
};

// The lines of `content`; their text and breaks joined give it back.
std::vector<PlaylistLine> SplitPlaylistLines(const std::string& content);

enum class LineRole { kOther, kText, kTitle, kEntry };

// The run of a line that is text or an entry's path (`start`, `length`);
// the bytes around it are the line's own syntax. A line with a byte at or
// above 0x80 outside its run is text as a whole.
struct LineParts {
  LineRole role = LineRole::kOther;
  std::size_t start = 0;
  std::size_t length = 0;
  std::string field;  // "#EXTINF", "Title2", "TITLE", ...: for a preview
};

// What the lines before tell about the next one (a cue sheet's TRACK).
struct LineContext {
  bool inTrack = false;
};

LineParts PartsOfLine(PlaylistKind kind, const std::string& line, LineContext* context);

bool HasHighByte(const std::string& bytes);
bool IsWholeUtf8(const std::string& bytes);

// How the entries of one playlist are resolved and written.
struct EntryContext {
  PathString folder;  // the playlist's folder, from the root
  bool legacyIn = false;       // the entries are code-page bytes
  bool utf8Out = true;         // the new playlist is UTF-8
  unsigned readingPage = 0;    // splits double-byte text pair by pair
  const PlaylistRenames* renames = nullptr;
};

// kKept: the entry names a file whose name (or a folder's on its path) stays
// as it is and the new encoding cannot hold: those steps keep their bytes,
// so that the entry still names the file (PL4).
enum class EntryResult { kSame, kChanged, kKept, kBroken };

// The native path an entry's bytes name: on POSIX the bytes themselves; on
// Windows the text as UTF-8, or as the ANSI page reads code-page bytes.
PathString EntryPathNative(const std::string& bytes, bool legacy);
// How an entry's new text is written: UTF-8, code-page bytes, or the bytes
// a file:// URL percent-encodes (UTF-8 on Windows, the name's bytes on POSIX).
enum class EntryEncoding { kUtf8, kCodePage, kUrl };
// The bytes that name `path` in an entry; false when the encoding cannot
// hold its name.
bool EntryPathBytes(const PathString& path, EntryEncoding encoding, std::string* bytes);
