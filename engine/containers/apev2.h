// An APEv2 tag at the end of a file (before a 128-byte ID3v1 tag, if one
// follows it): an optional 32-byte header, the items, and a 32-byte footer
// "APETAGEX" with the version, the size of items and footer, the item count
// and the flags. Each item is a 32-bit value size, 32-bit flags, a key ended
// by a NUL, and the value.
//
// Calling sequence: FindApeTag on the stream; the items as ParseApeItems
// read them; RenderApeTag for the tag with new items; ApeTagReadsAs (or
// ParseApeTag) on those bytes to read them back.
// Invariants:
//   AP1. A tag is read only when its header, items and footer lie within the
//       file and every byte between header and footer belongs to an item;
//       no size or count in it makes a read go past it or reserve more.
//   AP2. RenderApeTag keeps the version and the header's and footer's flags
//       and reserved bytes, and writes the size and the item count of what
//       it writes (the count stored may be wrong: some writers count items
//       they dropped).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <taglib/tiostream.h>

constexpr std::uint32_t kApeHasHeader = 1u << 31;
constexpr std::uint32_t kApeIsHeader = 1u << 29;

struct ApeItem {
  std::uint32_t flags = 0;
  std::string key;
  std::string value;
  // Bits 1-2 zero: UTF-8 text, NUL-separated values. Else binary, a link or
  // reserved.
  bool IsText() const { return (flags & 6) == 0; }
};

struct ApeTag {
  std::uint64_t start = 0;  // of the header, or of the items without one
  std::uint64_t size = 0;   // header, items and footer
  std::uint32_t version = 0;
  std::string header;  // as stored; empty without one
  std::string footer;  // as stored
  std::vector<ApeItem> items;
};

// Finds and reads the tag at the end of the file; false when there is none
// or it cannot be read whole (AP1).
bool FindApeTag(TagLib::IOStream* file, ApeTag* tag);
// Reads a tag that ends at the end of `bytes` (a rendered one).
bool ParseApeTag(const std::string& bytes, ApeTag* tag);
// Whether `bytes` are one whole tag that reads as `tag`: its version, a
// header when `tag` has one, and its items with their flags, keys and
// values, in order. Reads the items in place: no value is copied.
bool ApeTagReadsAs(const std::string& bytes, const ApeTag& tag);
std::string RenderApeTag(const ApeTag& tag);
