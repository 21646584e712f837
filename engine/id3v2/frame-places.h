// The places of an ID3v2 frame that hold text in the frame's own encoding:
// every value of a text frame (TXXX's description first), the description
// and text of COMM and USLT, the description and each text of SYLT, the
// descriptions of APIC, PIC and WXXX, and the file name and description of
// GEOB. Everything else of the frame (language codes, MIME types, URLs,
// picture types, time stamps, picture and object data) is bytes that a
// rewrite keeps as they are.
//
// Calling sequence:
//   1. FindTextPlaces(frame data, id) - where the text lies;
//   2. PlaceText(...) for each place - its text as stored;
//   3. RewriteTextPlaces(...) with the new text of each place.
// Invariants:
//   P1. Bytes of the frame outside its places (and their terminators) come
//       out of a rewrite unchanged and in their order.
//   P2. A frame whose encoding stays keeps the stored bytes of every place
//       whose text does not change.
//   P3. Reading the rewritten frame's places gives exactly the new texts;
//       RewriteTextPlaces checks this itself and fails otherwise.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct TextPlace {
  std::size_t begin = 0, end = 0;  // the text's bytes in the frame data
  bool terminated = false;         // a NUL of the encoding's width follows
  bool description = false;        // a description rather than a value
};

struct FramePlaces {
  int encoding = 0;  // the frame's encoding byte: 0 Latin-1, 1 UTF-16, 2 UTF-16BE, 3 UTF-8
  std::vector<TextPlace> places;
  // Text a program wrote for itself (iTunNORM, iTunSMPB and the like): read
  // by no one, never changed.
  bool machineWritten = false;
};

// Finds the places of a frame's data; `id` is its version 2.4 id, or "PIC"
// for a version 2.2 picture. False when the frame holds no text places or its
// data does not have the frame's form.
bool FindTextPlaces(const std::string& data, const std::string& id, FramePlaces* out);

// The text of one place as its encoding stores it; Latin-1 gives one
// character per byte.
std::wstring PlaceText(const std::string& data, const FramePlaces& frame, const TextPlace& place);

// The frame's data with the places given new text (nullopt: the place keeps
// its text). A Latin-1 frame becomes UTF-16; a frame of another encoding
// keeps it. False when the result would not read back as asked (P3).
bool RewriteTextPlaces(const std::string& data, const std::string& id, const FramePlaces& frame,
                       const std::vector<std::optional<std::wstring>>& texts, std::string* out);
