// A Vorbis comment block, as FLAC's VORBIS_COMMENT metadata block and the
// comment packet of Ogg Vorbis and Opus hold it: a vendor string, then
// entries "KEY=value" with UTF-8 values, each preceded by its 32-bit
// little-endian length.
//
// Calling sequence: ParseVorbisComment on the block's bytes;
// CollectVorbisComment for the album decision; RepairVorbisComment with the
// file's reading; RenderVorbisComment for the new bytes; parse those back
// and compare with SameVorbisComment (or read them with
// VorbisCommentReadsAs) before giving the edit.
// Invariants:
//   V1. Entries keep their order and count; the vendor string stays.
//   V2. Only the value (after the first '=') of an entry with a usual key
//       (ASCII 0x20-0x7D without '=') may change; an entry with no '=', an
//       unusual key or a picture stays byte for byte.
//   V3. Parsing is bounded by the bytes given: no count or length in them
//       makes it read past them or reserve more than they could hold.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/id3v2/place-reading.h"
#include "engine/text/text-pool.h"

struct VorbisComment {
  std::string vendor;
  std::vector<std::string> entries;  // as stored, "KEY=value"
};

// Parses the comment that starts at `at` of `bytes`; `*end` is given the
// offset just past its last entry. False when a length runs past the bytes.
bool ParseVorbisComment(const std::string& bytes, std::size_t at, VorbisComment* comment,
                        std::size_t* end);
std::string RenderVorbisComment(const VorbisComment& comment);
void AppendVorbisComment(const VorbisComment& comment, std::string* out);
// The length of the comment rendered.
std::size_t VorbisCommentSize(const VorbisComment& comment);

// Adds each value that holds text (TITLE as a title) to the pool.
void CollectVorbisComment(const VorbisComment& comment, SuggestionPool* pool);
// `out` is given the comment with every value whose text changes repaired,
// and `changes` (when given) one entry per changed value; false when none
// changes.
bool RepairVorbisComment(const VorbisComment& in, const FileReading& reading, VorbisComment* out,
                         std::vector<FrameChange>* changes);
// The same over `comment` itself, which keeps its entries when none changes.
bool RepairVorbisCommentInPlace(VorbisComment* comment, const FileReading& reading,
                                std::vector<FrameChange>* changes);
bool SameVorbisComment(const VorbisComment& a, const VorbisComment& b);
// Whether the comment that starts at `at` of `bytes` parses as `comment`,
// read in place without copying its entries; `*end` is given the offset
// just past its last entry.
bool VorbisCommentReadsAs(const std::string& bytes, std::size_t at, const VorbisComment& comment,
                          std::size_t* end);
