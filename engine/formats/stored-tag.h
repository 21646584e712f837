// The first ID3v2 tag of an MP3 file, found and read from the file being
// repaired: where TagLib found it (the first "ID3"), its bytes read once,
// and its layout; and the search for a tag after the audio.
#pragma once

#include <cstdint>
#include <string>

#include "engine/id3v2/id3v2-layout.h"
#include "engine/commit/edit.h"

// The file's first ID3v2 tag: its bytes, read once, and its layout.
struct StoredTag {
  bool present = false;
  std::uint64_t start = 0;
  std::string bytes;
  Id3v2Layout layout;
};

// Up to `count` bytes from `offset` (fewer at the end of the file).
std::string ReadContentAt(EditStream* stream, std::uint64_t offset, std::uint64_t count);

// Finds the file's first tag and reads it whole into `tag` (present stays
// false): false when there is none, or it runs past the file's end or its
// header is broken.
bool FindAndReadTag(EditStream* stream, StoredTag* tag);

// An ID3v2 tag after audio frames (some players append one, with a footer)
// is not the tag TagLib reads or a repair rewrites; true, with its start,
// when one in the last 64 KiB holds text that needs a repair.
bool FindTrailingTag(EditStream* stream, std::uint64_t* start);
