// The chunks of a WAV (RIFF, RF64) or AIFF (FORM, big-endian) file, and
// the text they hold: LIST/INFO items, AIFF's NAME/AUTH/ANNO/(c) chunks and
// the ID3v2 tag of an "id3 " or "ID3 " chunk.
//
// Invariants:
//   W1. Every chunk a walk gives starts inside the form and inside the
//       file; one whose data runs past either ends the walk (`whole` false).
//   W2. Nothing is read into memory larger than the file, nor than
//       kLargestTextChunk for a text or tag chunk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <taglib/tiostream.h>

struct RiffChunk {
  std::string id;
  std::uint64_t at = 0;    // its header
  std::uint64_t size = 0;  // its data, without the pad byte
  std::uint64_t body() const { return at + 8; }
};

// One text item: an INFO item (its bytes up to the first NUL) or an AIFF
// text chunk.
struct RiffText {
  std::string id;     // "INAM", "NAME", ...
  std::string bytes;  // as stored, each byte one character of the ANSI page
};

struct RiffFile {
  enum Kind { kWave, kRf64, kAiff } kind = kWave;
  std::uint64_t formSize = 0;  // the size at byte 4
  std::vector<RiffChunk> chunks;
  bool whole = false;
  std::vector<RiffText> texts;
  std::vector<std::size_t> tagChunks;  // indices of "id3 " / "ID3 " chunks
};

constexpr std::uint64_t kLargestTextChunk = std::uint64_t(64) << 20;

// Reads the form's header and walks its chunks; false when the file is
// neither WAV nor AIFF.
bool ReadRiffFile(TagLib::IOStream* file, RiffFile* riff);
// The same over bytes from the file's start (what an edit writes there);
// the walk ends where they end.
bool ParseRiffBytes(const std::string& bytes, RiffFile* riff);

// A chunk's size field in the form's byte order.
std::string RiffSizeBytes(const RiffFile& riff, std::uint64_t size);
// The index of the chunk that holds the audio ("data" or "SSND"); the
// number of chunks when there is none.
std::size_t AudioChunk(const RiffFile& riff);
