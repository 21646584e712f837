// Entry paths on Windows: a path is UTF-16 text; a player reads the entries
// of a UTF-8 playlist (and file:// URLs) as UTF-8 and those of a code-page
// one through the ANSI code page.
#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/text/codepage.h"
#include "engine/names/playlist-lines.h"
#include "engine/platform/text.h"

PathString EntryPathNative(const std::string& bytes, bool legacy) {
  return legacy ? DecodeCodePage(0, bytes) : DecodeUtf8(bytes);
}

bool EntryPathBytes(const PathString& path, EntryEncoding encoding, std::string* bytes) {
  if (encoding == EntryEncoding::kCodePage)
    return false;  // no way back to the ANSI page's bytes is kept here
  *bytes = WideToUtf8(path);
  return DecodeUtf8(*bytes) == path;  // a lone surrogate has no UTF-8
}
