// The tag a repair writes: its frames, each with what it must read as, and
// the composing and checking of the whole tag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <taglib/id3v2frame.h>

#include "engine/id3v2/id3v2-layout.h"

// One frame of the tag to write, and what it must be checked against.
struct OutputFrame {
  enum Kind { kKept, kRedecoded, kFromId3v1, kMergedDate, kPicture } kind = kKept;
  std::string id;
  Id3v2Frame frame;                          // as it is to be written
  std::vector<std::wstring> expectedFields;  // re-decoded and ID3v1 frames
};

// An ASCII frame id as text, for the detail of a refusal.
std::wstring Widen(const std::string& ascii);

// A new frame as TagLib renders it (version 2.4, flags clear), taken in
// without parsing a tag around it.
bool ReadTagLibFrame(const TagLib::ID3v2::Frame& frame, Id3v2Frame* out);

// The whole tag, `version` 3 or 4, holding `frames` and padded to fit the
// `region` bytes of the old tag `old` (none when the file had no tag).
std::string ComposeTag(const std::vector<OutputFrame>& frames, const Id3v2Layout* old,
                       std::uint64_t region, int version);

// Reads `tag` back and checks every frame against `expected`; `detail` says
// what differs when one does not.
bool VerifyTag(const std::string& tag, const std::vector<OutputFrame>& expected,
               std::wstring* detail);
