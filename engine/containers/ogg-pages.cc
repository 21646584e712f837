// Ogg page reading, CRC and packet laying out.
#include "engine/containers/ogg-pages.h"

#include <algorithm>
#include <array>

#include "engine/platform/bytes-le.h"

namespace {

std::array<std::uint32_t, 256> CrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << 24;
    for (int bit = 0; bit < 8; ++bit)
      r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    table[i] = r;
  }
  return table;
}

bool ParseHeader(const std::string& header, OggPage* page) {
  if (header.size() < 27 || header.compare(0, 4, "OggS") != 0 || header[4] != 0)
    return false;
  page->flags = static_cast<std::uint8_t>(header[5]);
  page->granule = ReadLe64(header, 6);
  page->serial = ReadLe32(header, 14);
  page->sequence = ReadLe32(header, 18);
  return true;
}

std::size_t BodySize(const std::string& lacing) {
  std::size_t size = 0;
  for (char c : lacing)
    size += static_cast<unsigned char>(c);
  return size;
}

}  // namespace

bool ReadOggPage(TagLib::IOStream* file, std::uint64_t offset, std::uint64_t length,
                 OggPage* page) {
  if (offset + 27 > length)
    return false;
  std::string header = ReadStreamAt(file, offset, 27);
  if (!ParseHeader(header, page))
    return false;
  const std::size_t segments = static_cast<unsigned char>(header[26]);
  if (offset + 27 + segments > length)
    return false;
  page->lacing = ReadStreamAt(file, offset + 27, segments);
  if (page->lacing.size() != segments)
    return false;
  const std::size_t size = 27 + segments + BodySize(page->lacing);
  if (offset + size > length)
    return false;
  page->offset = offset;
  page->size = size;
  page->bytes = ReadStreamAt(file, offset, size);
  return page->bytes.size() == size;
}

bool ParseOggPage(const std::string& bytes, std::size_t at, OggPage* page) {
  if (at > bytes.size() || bytes.size() - at < 27 || !ParseHeader(bytes.substr(at, 27), page))
    return false;
  const std::size_t segments = static_cast<unsigned char>(bytes[at + 26]);
  if (bytes.size() - at < 27 + segments)
    return false;
  page->lacing = bytes.substr(at + 27, segments);
  const std::size_t size = 27 + segments + BodySize(page->lacing);
  if (bytes.size() - at < size)
    return false;
  page->offset = at;
  page->size = size;
  page->bytes = bytes.substr(at, size);
  return true;
}

std::uint32_t OggCrc(const std::string& page) {
  static const std::array<std::uint32_t, 256> table = CrcTable();
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < page.size(); ++i) {
    const unsigned char byte = (i >= 22 && i < 26) ? 0 : static_cast<unsigned char>(page[i]);
    crc = (crc << 8) ^ table[((crc >> 24) & 0xFF) ^ byte];
  }
  return crc;
}

bool OggCrcRight(const OggPage& page) {
  return page.bytes.size() >= 27 && ReadLe32(page.bytes, 22) == OggCrc(page.bytes);
}

std::string ComposeOggPage(std::uint8_t flags, std::uint64_t granule, std::uint32_t serial,
                           std::uint32_t sequence, const std::string& lacing,
                           const std::string& body) {
  std::string page("OggS", 4);
  page.push_back('\0');
  page.push_back(char(flags));
  AppendLe64(&page, granule);
  AppendLe32(&page, serial);
  AppendLe32(&page, sequence);
  AppendLe32(&page, 0);
  page.push_back(char(lacing.size()));
  page += lacing;
  page += body;
  PutLe32(&page, 22, OggCrc(page));
  return page;
}

namespace {

// The length of the packet whose first segment is segment `s` of page `p`,
// as far as the pages go.
std::size_t PacketSizeFrom(const std::vector<OggPage>& pages, std::size_t p, std::size_t s) {
  std::size_t size = 0;
  for (; p < pages.size(); ++p, s = 0) {
    for (; s < pages[p].lacing.size(); ++s) {
      const std::size_t segment = static_cast<unsigned char>(pages[p].lacing[s]);
      size += segment;
      if (segment < 255)
        return size;
    }
  }
  return size;
}

}  // namespace

void ReadPackets(const std::vector<OggPage>& pages, std::vector<std::string>* packets,
                 std::vector<std::size_t>* endPage, bool* unfinished) {
  std::string packet;
  bool open = false;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    const OggPage& page = pages[p];
    std::size_t at = page.HeaderSize();
    for (std::size_t s = 0; s < page.lacing.size(); ++s) {
      const std::size_t size = static_cast<unsigned char>(page.lacing[s]);
      // Each packet is given its whole length at once: a large one is
      // never copied while it grows.
      if (!open)
        packet.reserve(PacketSizeFrom(pages, p, s));
      packet.append(page.bytes, at, size);
      at += size;
      open = true;
      if (size < 255) {
        packets->push_back(std::move(packet));
        endPage->push_back(p);
        packet.clear();
        open = false;
      }
    }
  }
  *unfinished = open;
  if (open) {
    packets->push_back(std::move(packet));
    endPage->push_back(pages.empty() ? 0 : pages.size() - 1);
  }
}

bool LayOutPackets(const std::vector<std::string>& packets, std::size_t pageCount,
                   std::vector<LaidPage>* pages, bool bodies) {
  // Every segment with the packet it belongs to and where in it it starts.
  struct Segment {
    std::size_t packet, at, size;
  };
  std::vector<Segment> segments;
  for (std::size_t p = 0; p < packets.size(); ++p) {
    const std::size_t size = packets[p].size();
    for (std::size_t at = 0;; at += 255) {
      const std::size_t piece = std::min<std::size_t>(255, size - at);
      segments.push_back(Segment{p, at, piece});
      if (piece < 255)
        break;
    }
  }
  const std::size_t total = segments.size();
  if (pageCount == 0)
    pageCount = (total + 254) / 255;
  if (pageCount == 0 || total < pageCount || total > pageCount * 255)
    return false;
  pages->assign(pageCount, LaidPage());
  std::size_t next = 0;
  for (std::size_t i = 0; i < pageCount; ++i) {
    const std::size_t later = pageCount - i - 1;  // each keeps one segment at least
    const std::size_t count = std::min<std::size_t>(255, total - next - later);
    LaidPage& page = (*pages)[i];
    page.continued = segments[next].at != 0;
    for (std::size_t s = next; s < next + count; ++s) {
      page.lacing.push_back(char(segments[s].size));
      if (bodies)
        page.body.append(packets[segments[s].packet], segments[s].at, segments[s].size);
      if (segments[s].size < 255)
        page.packetEnds = true;
    }
    next += count;
  }
  return true;
}
