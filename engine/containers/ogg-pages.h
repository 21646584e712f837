// Ogg pages: reading one page at an offset of a stream, checking and
// computing its CRC, taking packets out of pages and laying packets out
// into pages again.
//
// Calling sequence: ReadOggPage from offset 0 on, each page's end being the
// next one's offset; PacketsOfPages for the packets the pages hold;
// LayOutPackets and ComposeOggPage for new pages.
// Invariants:
//   OG1. A page is read only when all of it lies within the stream's length;
//       no lacing value or length makes a read go past it.
//   OG2. ComposeOggPage gives a page whose CRC (polynomial 0x04C11DB7, not
//       reflected, over the page with its CRC field zero) is right, and
//       LayOutPackets a lacing that ReadPackets takes back to the same
//       packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <taglib/tiostream.h>

constexpr std::uint8_t kOggContinued = 1;
constexpr std::uint8_t kOggFirst = 2;
constexpr std::uint8_t kOggLast = 4;
constexpr std::uint64_t kOggNoGranule = ~std::uint64_t(0);

struct OggPage {
  std::uint64_t offset = 0;  // in the stream
  std::uint8_t flags = 0;    // kOggContinued, kOggFirst, kOggLast
  std::uint64_t granule = 0;
  std::uint32_t serial = 0;
  std::uint32_t sequence = 0;
  std::string lacing;  // the segment table
  std::string bytes;   // the whole page as stored (may be let go once read)
  std::size_t size = 0;  // the page's length in the stream
  std::size_t HeaderSize() const { return 27 + lacing.size(); }
  std::string Body() const { return bytes.substr(HeaderSize()); }
};

// Reads the page at `offset` of the stream (OG1); false when none is there.
bool ReadOggPage(TagLib::IOStream* file, std::uint64_t offset, std::uint64_t length,
                 OggPage* page);
// Reads the page at `at` of `bytes`.
bool ParseOggPage(const std::string& bytes, std::size_t at, OggPage* page);

std::uint32_t OggCrc(const std::string& page);
bool OggCrcRight(const OggPage& page);

// A page with its CRC.
std::string ComposeOggPage(std::uint8_t flags, std::uint64_t granule, std::uint32_t serial,
                           std::uint32_t sequence, const std::string& lacing,
                           const std::string& body);

// The packets pages hold, in order: `packets` ends with the one the last
// page leaves unfinished, if any (`*unfinished` true). `endPage[i]` is the
// index of the page where packet i ends (or the last page).
void ReadPackets(const std::vector<OggPage>& pages, std::vector<std::string>* packets,
                 std::vector<std::size_t>* endPage, bool* unfinished);

struct LaidPage {
  std::string lacing;
  std::string body;
  bool continued = false;    // starts within a packet
  bool packetEnds = false;   // a packet ends on it
};

// Lays the packets out, the first starting a page and the last ending one,
// in exactly `pageCount` pages of 1 to 255 segments, the earlier pages
// filled first; or, with `pageCount` 0, in as few pages as they fit in.
// False when they do not fit in `pageCount`. Without `bodies` the pages
// get their lacing only: the caller takes each body from the packets.
bool LayOutPackets(const std::vector<std::string>& packets, std::size_t pageCount,
                   std::vector<LaidPage>* pages, bool bodies = true);
