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

#include "engine/platform/bytes-le.h"
#include "engine/containers/container-bytes.h"
#include "engine/formats/format-ogg.h"
#include "engine/formats/format.h"
#include "engine/containers/ogg-pages.h"
#include "engine/formats/vorbis-comment.h"

namespace {

constexpr std::uint64_t kRoomBlock = 4096;

struct OggHeaders {
  bool opus = false;
  std::uint32_t serial = 0;
  // Every page from the first of the stream; the stream's own keep their
  // headers only, their bodies being in `packets`.
  std::vector<OggPage> walked;
  std::vector<std::size_t> ownPages;  // those of the stream, indices in `walked`
  // The header packets, the comment's let go once parsed into `comment`.
  std::vector<std::string> packets;
  bool multiplexed = false;           // another stream's pages are among them
  bool whole = false;                 // every header packet read, pages as expected
  bool crcsRight = false;             // those after the first match their CRC
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
    *at += page.size;
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
    at += page.size;
    if (page.serial != headers->serial) {
      headers->multiplexed = true;
    } else {
      ended += EndedPackets(page);
      headers->ownPages.push_back(headers->walked.size());
    }
    headers->walked.push_back(std::move(page));
  }
  // The stream's pages are taken out of `walked` rather than copied.
  std::vector<OggPage> own;
  for (std::size_t i : headers->ownPages) {
    own.push_back(headers->walked[i]);
    std::string().swap(headers->walked[i].bytes);
  }
  headers->crcsRight = true;
  for (std::size_t i = 1; i < own.size(); ++i)
    headers->crcsRight = headers->crcsRight && OggCrcRight(own[i]);
  std::vector<std::size_t> endPage;
  bool unfinished = false;
  ReadPackets(own, &headers->packets, &endPage, &unfinished);
  for (std::size_t i = 1; i < own.size(); ++i)
    std::string().swap(own[i].bytes);
  if (headers->packets.size() < 2 ||
      !ParseCommentPacket(headers->packets[1], headers->opus, &headers->prefix,
                          &headers->comment, &headers->tail))
    return false;
  std::string().swap(headers->packets[1]);
  // The identification header alone on the first page, the comment starting
  // the second, the last header packet ending the last: no audio among them.
  headers->whole = ended == needed && headers->packets.size() == needed && !unfinished &&
                   endPage[0] == 0 && EndedPackets(own[0]) == 1 && own.size() >= 2 &&
                   !(own[1].flags & kOggContinued);
  return true;
}

// Where the next new header page starts among the packets.
struct PageCursor {
  std::size_t page = 0, packet = 0, at = 0;
};

// Appends the next of the stream's header pages after the first, laid out
// anew (`laid`, lacing only) from `packets` and numbered from the second
// page's number: one page's body at a time is copied out of the packets.
void AppendNextPage(const OggHeaders& headers, const std::vector<LaidPage>& laid,
                    const std::vector<std::string>& packets, PageCursor* cursor,
                    std::string* out) {
  const std::size_t oldCount = headers.ownPages.size() - 1;
  const OggPage& last = headers.Own(oldCount);
  const std::size_t i = cursor->page++;
  std::string body;
  for (char c : laid[i].lacing) {
    const std::size_t size = static_cast<unsigned char>(c);
    body.append(packets[cursor->packet], cursor->at, size);
    cursor->at += size;
    if (size < 255) {
      ++cursor->packet;
      cursor->at = 0;
    }
  }
  std::uint8_t flags = laid[i].continued ? kOggContinued : 0;
  if (i + 1 == laid.size())
    flags |= last.flags & kOggLast;
  const std::uint64_t granule = laid[i].packetEnds ? last.granule : kOggNoGranule;
  *out += ComposeOggPage(flags, granule, headers.serial,
                         headers.Own(1).sequence + std::uint32_t(i), laid[i].lacing, body);
}

// The bytes of a laid page once composed.
std::size_t LaidPageSize(const LaidPage& page) {
  std::size_t size = 27 + page.lacing.size();
  for (char c : page.lacing)
    size += static_cast<unsigned char>(c);
  return size;
}

// The stream's pages after its headers, each renumbered by `shift` with a
// new CRC, up to its last page; `*end` is given the offset past them.
bool RenumberLaterPages(TagLib::IOStream* file, const OggHeaders& headers, std::uint32_t shift,
                        std::string* out, std::uint64_t* end) {
  const std::uint64_t length = StreamLength(file);
  const OggPage& last = headers.walked.back();
  std::uint64_t at = last.offset + last.size;
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

// F2: every new page from `from` on reads with a right CRC and the
// stream's next number, and the first `headerPages` of the stream hold
// exactly the header packets, each segment compared in place.
bool VerifyPages(const std::string& bytes, std::size_t from, const OggHeaders& headers,
                 std::size_t headerPages, const std::vector<std::string>& packets) {
  std::size_t at = from, pagesSeen = 0, packet = 0, inPacket = 0;
  bool open = false;
  OggPage page;
  std::uint32_t sequence = headers.Own(1).sequence;
  while (at < bytes.size()) {
    if (!ParseOggPage(bytes, at, &page) || !OggCrcRight(page))
      return false;
    at += page.size;
    if (page.serial != headers.serial)
      continue;
    if (page.sequence != sequence++)
      return false;
    if (pagesSeen++ >= headerPages)
      continue;
    std::size_t body = page.HeaderSize();
    for (char c : page.lacing) {
      const std::size_t size = static_cast<unsigned char>(c);
      if (packet >= packets.size() || packets[packet].size() - inPacket < size ||
          packets[packet].compare(inPacket, size, page.bytes, body, size) != 0)
        return false;
      body += size;
      inPacket += size;
      open = size == 255;
      if (!open) {
        if (inPacket != packets[packet].size())
          return false;
        ++packet;
        inPacket = 0;
      }
    }
  }
  return !open && packet == packets.size();
}

// True when what follows the comment (after a Vorbis comment's framing
// byte) is zeros, padding that may take another length.
bool HoldsPadding(const OggHeaders& headers) {
  const std::size_t from = headers.opus ? 0 : 1;
  return headers.tail.find_first_not_of('\0', from) == std::string::npos;
}

std::size_t Segments(std::size_t size) { return size / 255 + 1; }

// The length of the comment packet, padded with zeros from `unpadded`
// bytes, so that the stream's header pages after the first take `size`
// bytes in `pageCount` pages, the setup packet (Vorbis) of `setup` bytes
// with it; false when no padding does.
bool PadToSize(std::size_t unpadded, std::size_t setup, std::size_t pageCount, std::uint64_t size,
               std::size_t* padded) {
  const std::uint64_t fixed = 27 * std::uint64_t(pageCount) + (setup ? setup + Segments(setup) : 0);
  if (size < fixed)
    return false;
  const std::uint64_t bytes = size - fixed;  // the comment's and its lacing's
  const std::uint64_t guess = bytes * 255 / 256;
  for (std::uint64_t c = guess > 2 ? guess - 2 : 0; c <= guess + 2; ++c) {
    const std::size_t segments = Segments(c) + (setup ? Segments(setup) : 0);
    if (c >= unpadded && c + Segments(c) == bytes && segments <= 255 * pageCount &&
        segments >= pageCount) {
      *padded = std::size_t(c);
      return true;
    }
  }
  return false;
}

// F4: the comment packet (its first `rendered` bytes the repaired comment,
// then the stored tail) resized in its padding so that the header pages
// keep their number and their length, or else grow by whole room blocks;
// `*grown` is given the growth. False, the packet as it was, when the
// stream has no padding or none fits.
bool FitPadding(const OggHeaders& headers, std::size_t rendered, std::string* packet,
                std::uint64_t* grown) {
  if (!HoldsPadding(headers))
    return false;
  const std::size_t unpadded = rendered + (headers.opus ? 0 : 1);
  const std::size_t setup = headers.opus ? 0 : headers.packets[2].size();
  std::uint64_t size = 0;
  for (std::size_t i = 1; i < headers.ownPages.size(); ++i)
    size += headers.Own(i).size;
  const std::size_t pageCount = headers.ownPages.size() - 1;
  std::size_t padded = 0;
  for (*grown = 0; *grown <= unpadded + 2 * kRoomBlock; *grown += kRoomBlock) {
    if (PadToSize(unpadded, setup, pageCount, size + *grown, &padded)) {
      // Past the framing byte the tail holds zeros only.
      packet->resize(padded, '\0');
      return true;
    }
  }
  return false;
}

// The repaired comment packet, padded where the stream has padding (F4),
// and checked to parse back as the repaired comment with its tail (F2).
// The comment is let go then: the pages are checked against the packet.
bool ComposeCommentPacket(OggHeaders* headers, std::string* packet, std::uint64_t* grown,
                          bool* padded) {
  // Room for the padding's growth too, so that the packet is never copied.
  packet->reserve(headers->prefix.size() + VorbisCommentSize(headers->comment) +
                  headers->tail.size() + 3 * kRoomBlock);
  *packet = headers->prefix;
  AppendVorbisComment(headers->comment, packet);
  const std::size_t rendered = packet->size();
  *packet += headers->tail;
  *padded = FitPadding(*headers, rendered, packet, grown);
  // Read back where it lies, as ParseCommentPacket reads: no entry copied.
  const std::string& prefix = headers->prefix;
  std::size_t end = 0;
  const bool same =
      StartsWith(*packet, prefix.data(), prefix.size()) &&
      VorbisCommentReadsAs(*packet, prefix.size(), headers->comment, &end) &&
      (headers->opus || (end < packet->size() && ((*packet)[end] & 1))) &&
      packet->compare(rendered, std::string::npos, *packet, end, std::string::npos) == 0;
  headers->comment = VorbisComment();
  return same;
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
  std::vector<FrameChange> changes;
  if (!RepairVorbisCommentInPlace(&headers.comment, reading, &changes))
    return WM_FIX_NOT_NEEDED;
  if (!headers.whole)
    return RefuseRepair(outcome, L"the Ogg header pages could not be read whole");
  if (!headers.crcsRight)
    return RefuseRepair(outcome, L"an Ogg header page does not match its CRC");
  std::vector<std::string> packets(1);
  std::uint64_t grown = 0;
  bool padded = false;
  if (!ComposeCommentPacket(&headers, &packets[0], &grown, &padded))
    return RefuseRepair(outcome, L"the repaired Ogg pages did not read back as written");
  if (!headers.opus)
    packets.push_back(headers.packets[2]);
  const std::size_t oldCount = headers.ownPages.size() - 1;
  std::vector<LaidPage> laid;
  const bool samePages = LayOutPackets(packets, oldCount, &laid, false);
  if (!samePages && (headers.multiplexed || !LayOutPackets(packets, 0, &laid, false)))
    return RefuseRepair(outcome, headers.multiplexed
                               ? L"the Ogg stream's pages are interleaved with another stream's"
                               : L"the Ogg comment could not be laid out in pages");
  // The new bytes: the stream's header pages replaced, other pages as stored.
  std::string bytes = grown ? ReadStreamAt(file, 0, std::size_t(headers.Own(1).offset)) : "";
  if (bytes.size() != (grown ? headers.Own(1).offset : 0))
    return RefuseRepair(outcome, L"the Ogg file could not be read");
  std::size_t size = bytes.size();
  for (std::size_t w = headers.ownPages[1]; w < headers.walked.size(); ++w)
    size += headers.walked[w].serial == headers.serial ? 0 : headers.walked[w].size;
  for (const LaidPage& page : laid)
    size += LaidPageSize(page);
  bytes.reserve(size);
  // The new pages are composed straight into the bytes: beside the packets
  // only one page's body is held at a time.
  PageCursor cursor;
  for (std::size_t w = headers.ownPages[1]; w < headers.walked.size(); ++w) {
    const bool own = headers.walked[w].serial == headers.serial;
    if (!own)
      bytes += headers.walked[w].bytes;
    else if (w == headers.ownPages.back())
      while (cursor.page < laid.size())
        AppendNextPage(headers, laid, packets, &cursor, &bytes);
    else if (cursor.page < laid.size())
      AppendNextPage(headers, laid, packets, &cursor, &bytes);
  }
  const OggPage& last = headers.walked.back();
  std::uint64_t end = last.offset + last.size;
  if (!samePages) {
    const std::uint32_t shift = std::uint32_t(laid.size()) - std::uint32_t(oldCount);
    if (!RenumberLaterPages(file, headers, shift, &bytes, &end))
      return RefuseRepair(outcome, L"the Ogg stream's pages are interleaved with another stream's");
  }
  const std::size_t from = grown ? std::size_t(headers.Own(1).offset) : 0;
  if (!VerifyPages(bytes, from, headers, laid.size(), packets) ||
      (padded && end - headers.Own(1).offset + grown != bytes.size() - from))
    return RefuseRepair(outcome, L"the repaired Ogg pages did not read back as written");
  edit->recorded = true;
  edit->offset = grown ? 0 : headers.Own(1).offset;
  edit->replaced = end - edit->offset;
  edit->bytes = std::move(bytes);
  outcome->changes.insert(outcome->changes.end(), changes.begin(), changes.end());
  return WM_FIX_SUCCEEDED;
}
