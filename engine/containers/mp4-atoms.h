// The atoms of an MP4 file: the walk of the top level from the stream, and
// of an atom's children in memory, with 32-bit and 64-bit sizes.
//
// Invariants:
//   MA1. Every atom a walk gives lies whole inside the range walked: its size
//       is at least its header and does not pass the range's end.
//   MA2. A size of 0 (the atom runs to the end) is taken at the top level
//       only, for the last atom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <taglib/tiostream.h>

struct Mp4Atom {
  std::string type;        // four bytes as stored
  std::uint64_t at = 0;    // where its header starts (file or buffer offset)
  std::uint64_t size = 0;  // header included
  unsigned header = 8;     // 8, or 16 with a 64-bit size
  bool toEnd = false;      // stored with size 0
  std::uint64_t body() const { return at + header; }
  std::uint64_t end() const { return at + size; }
};

// The top-level atoms of the file; false when one does not fit in the file
// (those before it are given).
bool ReadTopAtoms(TagLib::IOStream* file, std::vector<Mp4Atom>* atoms);

// The atoms of bytes[from, to); false when one does not fit (MA1).
bool ReadChildAtoms(const std::string& bytes, std::uint64_t from, std::uint64_t to,
                    std::vector<Mp4Atom>* atoms);

// The first atom of `type` among `atoms`; null when none.
const Mp4Atom* FindMp4Atom(const std::vector<Mp4Atom>& atoms, const std::string& type);

// Where the children of a "meta" atom start: after its version and flags
// when it is a full box, right after its header when a writer left them out.
std::uint64_t MetaChildrenStart(const std::string& bytes, const Mp4Atom& meta);

// `atom` with `content` after its header: the header keeps its form (a
// 64-bit size stays 64-bit). False when the new size does not fit a 32-bit
// size field or the atom was stored with size 0.
bool RewrapAtom(const Mp4Atom& atom, const std::string& content, std::string* out);

// Where each chunk offset of every track lies in `moov` (the moov atom's
// bytes): trak/mdia/minf/stbl/stco (4 bytes each) or co64 (8 bytes). False
// when a track has no table or a table does not fit its atom.
struct ChunkOffsetEntry {
  std::uint64_t at = 0;
  int width = 4;
};
bool FindChunkOffsets(const std::string& moov, std::vector<ChunkOffsetEntry>* entries);
