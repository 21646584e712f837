// TagLib's reading of an MP3 file's ID3v2 and ID3v1 tags, the tags TagLib's
// own MP3 file type would read, without that type's search for the ID3v2
// tag one byte at a time through its stream (which costs more than the rest
// of the repair on a file with no tag at its start).
#pragma once

#include <cstdint>
#include <memory>

#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/tfile.h>

#include "engine/commit/edit.h"
#include "engine/id3v2/redecode.h"

// Where TagLib finds a file's ID3v2 tag: at its start, or at the first
// "ID3" before the first valid MPEG frame header (one whose next frame
// starts where its length says, with the same version, layer, sample rate
// and channel mode); -1 when there is none.
std::int64_t FindId3v2AsTagLib(EditStream* stream);

// The tags TagLib reads. `id3v1` is always given, empty when the file has
// none, as TagLib's MP3 file gives it.
struct Mp3TagLibTags {
  std::unique_ptr<TagLib::File> file;  // what the tags read through
  std::unique_ptr<TagLib::ID3v2::Tag> id3v2;
  std::unique_ptr<TagLib::ID3v1::Tag> id3v1;
};

// Reads both tags through `stream`, as TagLib's MP3 file type reads them.
// False when the stream is not open.
bool ReadMp3TagsThroughTagLib(EditStream* stream, Mp3TagLibTags* tags);

// What TagLib's own reading of the file tells the repair. TagLib holds the
// whole tag, pictures too; it is let go once this is taken from it, before
// the repair reads the tag itself and composes the new one.
struct TagLibReading {
  bool hasId3v2 = false;
  bool wouldChange = false;    // a frame TagLib would repair (not automatic mode)
  std::size_t latin1Text = 0;  // its Latin-1 text frames with a byte at or above 0x80
  std::unique_ptr<TagLib::ID3v1::Tag> id3v1;  // a copy of the ID3v1 fields
};

// Reads the tags through TagLib: a file named as MP3 the way TagLib's MP3
// file type reads it (ReadMp3TagsThroughTagLib), another through the type
// TagLib tells by its content. False when TagLib cannot open the file.
bool ReadThroughTagLib(EditStream* stream, bool mp3Name, const Redecoding& redecoding,
                       TagLibReading* out);
