// The bytes of a file's tag, told from its layout before the tag is read:
// what the read-ahead budget (engine/readers.h) counts for a file before
// its module reads and copies its metadata.
//
// Calling sequence: the file open, its first bytes read (up to 64 KiB);
// TagExtent with both and the format its path names.
// Invariants:
//   E1. Each format counts the metadata its module holds while composing:
//       an ID3v2 tag (MP3), the blocks other than pictures (FLAC), the
//       header pages before the first audio page (Ogg), the moov atom
//       (MP4), the APEv2 tag with its header (APE); other formats count
//       nothing.
//   E2. Only small headers are read (never the metadata itself), each
//       within the file's length; a size that runs past the file counts
//       as far as the file goes.
//   E3. While it composes and checks a repair, the MP4, APE and Ogg
//       modules hold no more than twice what E1 counts (the stored
//       metadata and the new bytes, the edit among them): no large item is
//       copied on the way, and the record of the save (engine/commit/checksum.cc)
//       sums the new bytes where the edit holds them.
#pragma once

#include <cstdint>
#include <string>

#include "engine/platform/disk.h"
#include "engine/formats/format.h"

std::uint64_t TagExtent(NativeFile* file, AudioFormat format, const std::string& head);
