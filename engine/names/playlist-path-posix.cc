// Entry paths on POSIX: a path is the bytes an entry holds, whatever the
// playlist's encoding.
#include "engine/names/playlist-lines.h"

PathString EntryPathNative(const std::string& bytes, bool) {
  return bytes;
}

bool EntryPathBytes(const PathString& path, EntryEncoding encoding, std::string* bytes) {
  if (encoding == EntryEncoding::kUtf8 && !IsWholeUtf8(path))
    return false;
  *bytes = path;
  return true;
}
