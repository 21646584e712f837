// Ogg Vorbis and Opus: the comment packet of the file's first Vorbis or
// Opus stream, the packet after its identification header.
//
// The header pages after the first (the comment packet and, for Vorbis, the
// setup packet that shares its last page) are laid out again with the
// repaired comment, filling pages up to 255 segments so that their number
// stays the same: the edit then covers those pages only. When zeros follow
// the comment (padding, after a Vorbis comment's framing bit), they are
// resized so that the pages keep their length, or else grow by whole
// 4096-byte blocks in an edit from the file's start. When the number
// changes, every later page of the stream is renumbered with a new CRC, and
// the edit covers through the stream's last page; a stream whose pages are
// interleaved with another's (a video stream beside the sound) is left
// then, since its renumbered pages would be spread among the other's.
// Audio packets keep their bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/bytes-le.h"
#include "engine/container-bytes.h"
#include "engine/format.h"
#include "engine/ogg-pages.h"
#include "engine/vorbis-comment.h"

namespace {

constexpr std::uint64_t kRoomBlock = 4096;

struct OggHeaders {
  bool opus = false;
  std::uint32_t serial = 0;
  std::vector<OggPage> walked;        // every page from the first of the stream
  std::vector<std::size_t> ownPages;  // those of the stream, indices in `walked`
  std::vector<std::string> packets;   // the header packets
  bool multiplexed = false;           // another stream's pages are among them
  bool whole = false;                 // every header packet read, pages as expected
  std::string prefix;                 // "\x03vorbis" or "OpusTags"
  VorbisComment comment;
  std::string tail;  // after the comment: framing bit and what follows
  const OggPage& Own(std::size_t i) const { return walked[ownPages[i]]; }
};

bool StartsWith(const std::string& bytes, const char* text, std::size_t size) {
  return bytes.size() >= size && bytes.compare(0, size, text, size) == 0;
}

// The first page of the file's first Vorbis or Opus stream.
bool FindStream(TagLib::IOStream* file, std::uint64_t length, OggHeaders* headers,
                std::uint64_t* at) {
  *at = 0;
  OggPage page;
  while (ReadOggPage(file, *at, length, &page) && (page.flags & kOggFirst)) {
    const std::string body = page.Body();
    if (StartsWith(body, "\x01vorbis", 7) || StartsWith(body, "OpusHead", 8)) {
      headers->opus = body[0] == 'O';
      headers->serial = page.serial;
      headers->multiplexed = *at != 0;
      return true;
    }
    headers->multiplexed = true;
    *at += page.bytes.size();
  }
  return false;
}

std::size_t EndedPackets(const OggPage& page) {
  std::size_t ended = 0;
  for (char c : page.lacing)
    ended += static_cast<unsigned char>(c) < 255;
  return ended;
}

// The comment packet's parts; false when it is not one.
bool ParseCommentPacket(const std::string& packet, bool opus, std::string* prefix,
                        VorbisComment* comment, std::string* tail) {
  *prefix = opus ? std::string("OpusTags") : std::string("\x03vorbis", 7);
  if (!StartsWith(packet, prefix->data(), prefix->size()))
    return false;
  std::size_t end = 0;
  if (!ParseVorbisComment(packet, prefix->size(), comment, &end))
    return false;
  if (!opus && (end >= packet.size() || !(packet[end] & 1)))
    return false;  // a Vorbis comment ends with its framing bit
  tail->assign(packet, end, std::string::npos);
  return true;
}

bool ReadOggHeaders(TagLib::IOStream* file, OggHeaders* headers) {
  const std::uint64_t length = StreamLength(file);
  std::uint64_t at = 0;
  if (!FindStream(file, length, headers, &at))
    return false;
  const std::size_t needed = headers->opus ? 2 : 3;
  std::size_t ended = 0;
  OggPage page;
  while (ended < needed && ReadOggPage(file, at, length, &page)) {
    at += page.bytes.size();
    if (page.serial != headers->serial) {
      headers->multiplexed = true;
    } else {
      ended += EndedPackets(page);
      headers->ownPages.push_back(headers->walked.size());
    }
    headers->walked.push_back(std::move(page));
  }
  std::vector<OggPage> own;
  for (std::size_t i : headers->ownPages)
    own.push_back(headers->walked[i]);
  std::vector<std::size_t> endPage;
  bool unfinished = false;
  ReadPackets(own, &headers->packets, &endPage, &unfinished);
  if (headers->packets.size() < 2 ||
      !ParseCommentPacket(headers->packets[1], headers->opus, &headers->prefix,
                          &headers->comment, &headers->tail))
    return false;
  // The identification header alone on the first page, the comment starting
  // the second, the last header packet ending the last: no audio among them.
  headers->whole = ended == needed && headers->packets.size() == needed && !unfinished &&
                   endPage[0] == 0 && EndedPackets(own[0]) == 1 && own.size() >= 2 &&
                   !(own[1].flags & kOggContinued);
  return true;
}

// The stream's header pages after the first, laid out anew from
// `packets`, numbered from the second page's number.
std::vector<std::string> ComposeHeaderPages(const OggHeaders& headers,
                                            const std::vector<LaidPage>& laid) {
  const std::size_t oldCount = headers.ownPages.size() - 1;
  const OggPage& last = headers.Own(oldCount);
  std::vector<std::string> pages;
  for (std::size_t i = 0; i < laid.size(); ++i) {
    std::uint8_t flags = laid[i].continued ? kOggContinued : 0;
    if (i + 1 == laid.size())
      flags |= last.flags & kOggLast;
    const std::uint64_t granule = laid[i].packetEnds ? last.granule : kOggNoGranule;
    pages.push_back(ComposeOggPage(flags, granule, headers.serial,
                                   headers.Own(1).sequence + std::uint32_t(i), laid[i].lacing,
                                   laid[i].body));
  }
  return pages;
}

// The stream's pages after its headers, each renumbered by `shift` with a
// new CRC, up to its last page; `*end` is given the offset past them.
bool RenumberLaterPages(TagLib::IOStream* file, const OggHeaders& headers, std::uint32_t shift,
                        std::string* out, std::uint64_t* end) {
  const std::uint64_t length = StreamLength(file);
  const OggPage& last = headers.walked.back();
  std::uint64_t at = last.offset + last.bytes.size();
  OggPage page;
  bool ended = last.flags & kOggLast;
  while (!ended && ReadOggPage(file, at, length, &page)) {
    if (page.serial != headers.serial)
      return false;
    PutLe32(&page.bytes, 18, page.sequence + shift);
    PutLe32(&page.bytes, 22, OggCrc(page.bytes));
    *out += page.bytes;
    at += page.bytes.size();
    ended = page.flags & kOggLast;
  }
  *end = at;
  return true;
}

// F2: every new page reads with a right CRC and the stream's next number,
// and the first `headerPages` of the stream hold exactly the header packets,
// the comment as repaired.
bool VerifyPages(const std::string& bytes, const OggHeaders& headers, std::size_t headerPages,
                 const std::vector<std::string>& packets, const VorbisComment& repaired,
                 const std::string& expectedTail) {
  std::vector<OggPage> own;
  std::size_t at = 0;
  OggPage page;
  std::uint32_t sequence = headers.Own(1).sequence;
  while (at < bytes.size()) {
    if (!ParseOggPage(bytes, at, &page) || !OggCrcRight(page))
      return false;
    at += page.bytes.size();
    if (page.serial != headers.serial)
      continue;
    if (page.sequence != sequence++)
      return false;
    if (own.size() < headerPages)
      own.push_back(page);
  }
  std::vector<std::string> back;
  std::vector<std::size_t> endPage;
  bool unfinished = false;
  ReadPackets(own, &back, &endPage, &unfinished);
  std::string prefix, tail;
  VorbisComment comment;
  return !unfinished && back == packets &&
         ParseCommentPacket(back[0], headers.opus, &prefix, &comment, &tail) &&
         SameVorbisComment(comment, repaired) && tail == expectedTail;
}

// True when what follows the comment (after a Vorbis comment's framing
// byte) is zeros, padding that may take another length.
bool HoldsPadding(const OggHeaders& headers) {
  const std::size_t from = headers.opus ? 0 : 1;
  return headers.tail.find_first_not_of('\0', from) == std::string::npos;
}

std::size_t Segments(std::size_t size) { return size / 255 + 1; }

// The comment packet padded with zeros so that the stream's header pages
// after the first take `size` bytes in `pageCount` pages, the setup packet
// (Vorbis) with it; false when no padding does.
bool PadToSize(const std::string& unpadded, const std::string& setup, std::size_t pageCount,
               std::uint64_t size, std::string* packet) {
  const std::uint64_t fixed =
      27 * std::uint64_t(pageCount) + (setup.empty() ? 0 : setup.size() + Segments(setup.size()));
  if (size < fixed)
    return false;
  const std::uint64_t bytes = size - fixed;  // the comment's and its lacing's
  const std::uint64_t guess = bytes * 255 / 256;
  for (std::uint64_t c = guess > 2 ? guess - 2 : 0; c <= guess + 2; ++c) {
    const std::size_t segments = Segments(c) + (setup.empty() ? 0 : Segments(setup.size()));
    if (c >= unpadded.size() && c + Segments(c) == bytes && segments <= 255 * pageCount &&
        segments >= pageCount) {
      *packet = unpadded + std::string(std::size_t(c - unpadded.size()), '\0');
      return true;
    }
  }
  return false;
}

// F4: the comment packet resized in its padding so that the header pages
// keep their number and their length, or else grow by whole room blocks;
// `*grown` is given the growth. False when the stream has no padding or
// none fits.
bool FitPadding(const OggHeaders& headers, const std::string& rendered, std::string* packet,
                std::uint64_t* grown) {
  if (!HoldsPadding(headers))
    return false;
  const std::string unpadded = rendered + headers.tail.substr(0, headers.opus ? 0 : 1);
  const std::string setup = headers.opus ? std::string() : headers.packets[2];
  std::uint64_t size = 0;
  for (std::size_t i = 1; i < headers.ownPages.size(); ++i)
    size += headers.Own(i).bytes.size();
  const std::size_t pageCount = headers.ownPages.size() - 1;
  for (*grown = 0; *grown <= unpadded.size() + 2 * kRoomBlock; *grown += kRoomBlock)
    if (PadToSize(unpadded, setup, pageCount, size + *grown, packet))
      return true;
  return false;
}

}  // namespace

void CollectOggText(TagLib::IOStream* file, SuggestionPool* pool) {
  OggHeaders headers;
  if (ReadOggHeaders(file, &headers) && headers.whole)
    CollectVorbisComment(headers.comment, pool);
}

unsigned RenderOggRepair(TagLib::IOStream* file, const FileReading& reading, FileOutcome* outcome,
                         Edit* edit) {
  OggHeaders headers;
  if (!ReadOggHeaders(file, &headers))
    return WM_FIX_NOT_NEEDED;
  VorbisComment repaired;
  std::vector<FrameChange> changes;
  if (!RepairVorbisComment(headers.comment, reading, &repaired, &changes))
    return WM_FIX_NOT_NEEDED;
  if (!headers.whole)
    return RefuseRepair(outcome, L"the Ogg header pages could not be read whole");
  for (std::size_t i = 1; i < headers.ownPages.size(); ++i)
    if (!OggCrcRight(headers.Own(i)))
      return RefuseRepair(outcome, L"an Ogg header page does not match its CRC");
  const std::string rendered = headers.prefix + RenderVorbisComment(repaired);
  std::vector<std::string> packets{rendered + headers.tail};
  std::uint64_t grown = 0;
  const bool padded = FitPadding(headers, rendered, &packets[0], &grown);
  if (!headers.opus)
    packets.push_back(headers.packets[2]);
  const std::size_t oldCount = headers.ownPages.size() - 1;
  std::vector<LaidPage> laid;
  const bool samePages = LayOutPackets(packets, oldCount, &laid);
  if (!samePages && (headers.multiplexed || !LayOutPackets(packets, 0, &laid)))
    return RefuseRepair(outcome, headers.multiplexed
                               ? L"the Ogg stream's pages are interleaved with another stream's"
                               : L"the Ogg comment could not be laid out in pages");
  const std::vector<std::string> pages = ComposeHeaderPages(headers, laid);
  // The new bytes: the stream's header pages replaced, other pages as stored.
  std::string bytes = grown ? ReadStreamAt(file, 0, std::size_t(headers.Own(1).offset)) : "";
  if (bytes.size() != (grown ? headers.Own(1).offset : 0))
    return RefuseRepair(outcome, L"the Ogg file could not be read");
  std::size_t next = 0;
  for (std::size_t w = headers.ownPages[1]; w < headers.walked.size(); ++w) {
    const bool own = headers.walked[w].serial == headers.serial;
    if (!own)
      bytes += headers.walked[w].bytes;
    else if (w == headers.ownPages.back())
      while (next < pages.size())
        bytes += pages[next++];
    else if (next < pages.size())
      bytes += pages[next++];
  }
  const OggPage& last = headers.walked.back();
  std::uint64_t end = last.offset + last.bytes.size();
  if (!samePages) {
    const std::uint32_t shift = std::uint32_t(laid.size()) - std::uint32_t(oldCount);
    if (!RenumberLaterPages(file, headers, shift, &bytes, &end))
      return RefuseRepair(outcome, L"the Ogg stream's pages are interleaved with another stream's");
  }
  const std::size_t from = grown ? std::size_t(headers.Own(1).offset) : 0;
  if (!VerifyPages(bytes.substr(from), headers, laid.size(), packets, repaired,
                   packets[0].substr(rendered.size())) ||
      (padded && end - headers.Own(1).offset + grown != bytes.size() - from))
    return RefuseRepair(outcome, L"the repaired Ogg pages did not read back as written");
  edit->recorded = true;
  edit->offset = grown ? 0 : headers.Own(1).offset;
  edit->replaced = end - edit->offset;
  edit->bytes = std::move(bytes);
  outcome->changes.insert(outcome->changes.end(), changes.begin(), changes.end());
  return WM_FIX_SUCCEEDED;
}
