// The iTunes-style tags of an MP4 file: the text items of
// moov/udta/meta/ilst, read from the moov atom's bytes, and the moov atom
// rewritten with new values for some of them.
//
// Calling sequence: ReadMp4Tags over the moov atom's bytes (offset 0 is the
// moov header); RewriteMp4Tags with the new value of each changed text.
// Invariants:
//   M1. Only the data atoms given new values change; every other atom keeps
//       its bytes, except the sizes of the atoms that hold a changed one and
//       a "free" atom beside them that takes up the change in length.
//   M2. The moov atom keeps its length whenever a free atom inside it, after
//       the ilst, meta or udta atom, can take up the change; else it grows or
//       shrinks by exactly the change of the ilst atom.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/containers/mp4-atoms.h"

// One "data" atom holding text: UTF-8 (type 1) or UTF-16BE (type 2).
struct Mp4Text {
  std::size_t item = 0;  // index among the ilst items
  std::string label;     // the item's name for a person ("©nam", or a freeform name)
  bool isTitle = false;
  bool utf16 = false;
  Mp4Atom data;       // in the moov bytes
  std::string value;  // the stored value, after type and locale
};

struct Mp4Tags {
  Mp4Atom moov, udta, meta, ilst;
  std::vector<Mp4Atom> moovChildren, udtaChildren, metaChildren, items;
  std::uint64_t metaChildrenStart = 0;
  std::vector<Mp4Text> texts;
};

// False when the moov atom holds no udta/meta/ilst or they cannot be walked.
bool ReadMp4Tags(const std::string& moov, Mp4Tags* tags);

// The moov atom with `values` (by index into tags.texts) in place of the
// stored ones (M1, M2); false, with `detail`, when it cannot be written.
bool RewriteMp4Tags(const std::string& moov, const Mp4Tags& tags,
                    const std::map<std::size_t, std::string>& values, std::string* out,
                    std::wstring* detail);

