// Version conversions of a stored tag's frames: version 2.2 and 2.3 frames
// into version 2.4 form, and a tag into version 2.3 when it can be written so.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/id3v2/id3v2-layout.h"
#include "engine/id3v2/place-reading.h"
#include "engine/id3v2/tag-compose.h"

// Which frames of a version 2.2 or 2.3 tag merge into one date; none when
// they cannot be merged exactly.
struct DateMerge {
  std::size_t year = 0, day = 0, time = 0;
  bool merged = false, withTime = false;
  std::string value;  // "2004-12-31T23:59"
};
DateMerge MergeDate(const Id3v2Layout& layout);

// What becomes of a stored frame that is not re-decoded in a version 2.4 tag.
enum class Version24Form {
  kFrame,   // `out` holds it
  kInDate,  // a day or time the merged date holds
  kNone,    // a version 2.2 frame that version 2.4 has no form for
};
Version24Form FrameInVersion24(const Id3v2Layout& layout, std::size_t index, const DateMerge& date,
                               OutputFrame* out);

// A version 2.3 tag kept as version 2.3 (`stored` read with its chapters'
// frames as they are): every frame as stored, the re-decoded ones under their
// own ids. False when a frame cannot be re-decoded.
// In automatic mode (`reading` given) every frame's places are read
// through the file's reading instead; with a page for the run, Unicode
// frames lose UTF-8 encoded twice (RepairTwiceEncodedFrame).
bool KeepInVersion23(const Id3v2Layout& stored, const Redecoding& redecoding,
                     const FileReading* reading, std::vector<OutputFrame>* out);

// The version 2.4 frames of a tag in version 2.3 form, when every one has a
// form with the same content.
bool ConvertToVersion23(const std::vector<OutputFrame>& frames, std::vector<OutputFrame>* out);
