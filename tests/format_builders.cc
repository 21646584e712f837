#include "tests/format_builders.h"

#include <algorithm>
#include <map>

#include <taglib/tbytevectorstream.h>

#include "engine/text/codepage.h"
#include "engine/formats/container-text.h"
#include "engine/formats/format-ape.h"
#include "engine/formats/format-flac.h"
#include "engine/formats/format-ogg.h"
#include "engine/platform/platform.h"
#include "engine/text/text-shape.h"
#include "engine/platform/text.h"
#include "tests/fixtures.h"

namespace formats {
namespace {

void Le32(std::string* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out->push_back(char((v >> (8 * i)) & 0xFF));
}

void Be(std::string* out, std::uint32_t v, int width) {
  for (int i = width - 1; i >= 0; --i)
    out->push_back(char((v >> (8 * i)) & 0xFF));
}

std::uint32_t GetLe32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(s[at + std::size_t(i)]);
  return v;
}

std::string Data(const std::string& name) {
  return fixtures::ReadFile(std::string(SONGWRIGHT_SOURCE_DIR "/tests/data/formats/") + name);
}

}  // namespace

std::string VorbisComment(const std::string& vendor, const std::vector<std::string>& entries) {
  std::string out;
  Le32(&out, std::uint32_t(vendor.size()));
  out += vendor;
  Le32(&out, std::uint32_t(entries.size()));
  for (const std::string& e : entries) {
    Le32(&out, std::uint32_t(e.size()));
    out += e;
  }
  return out;
}

std::string FlacFile(const std::vector<FlacBlock>& blocks, const std::string& audio) {
  std::string out = "fLaC";
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    out.push_back(char(blocks[i].type | (i + 1 == blocks.size() ? 0x80 : 0)));
    Be(&out, std::uint32_t(blocks[i].content.size()), 3);
    out += blocks[i].content;
  }
  return out + audio;
}

std::string PictureBlock(const std::string& data) {
  std::string out;
  Be(&out, 3, 4);  // front cover
  Be(&out, 10, 4);
  out += "image/jpeg";
  Be(&out, 0, 4);  // no description
  for (int i = 0; i < 4; ++i)
    Be(&out, 1, 4);  // width, height, depth, colours
  Be(&out, std::uint32_t(data.size()), 4);
  return out + data;
}

void ToneFlac(std::string* streamInfo, std::string* audio) {
  const std::string file = Data("tone.flac");
  std::size_t at = 4;
  for (;;) {
    const bool last = static_cast<unsigned char>(file[at]) & 0x80;
    const std::size_t length = (std::size_t(static_cast<unsigned char>(file[at + 1])) << 16) |
                               (std::size_t(static_cast<unsigned char>(file[at + 2])) << 8) |
                               static_cast<unsigned char>(file[at + 3]);
    if ((file[at] & 0x7F) == 0)
      *streamInfo = file.substr(at + 4, length);
    at += 4 + length;
    if (last)
      break;
  }
  *audio = file.substr(at);
}

std::uint32_t PageCrc(const std::string& page) {
  std::uint32_t crc = 0;
  for (unsigned char byte : page) {
    crc ^= std::uint32_t(byte) << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

namespace {

std::string Page(std::uint8_t flags, std::uint64_t granule, std::uint32_t serial,
                 std::uint32_t sequence, const std::string& lacing, const std::string& body) {
  std::string page = "OggS";
  page.push_back('\0');
  page.push_back(char(flags));
  Le32(&page, std::uint32_t(granule));
  Le32(&page, std::uint32_t(granule >> 32));
  Le32(&page, serial);
  Le32(&page, sequence);
  Le32(&page, 0);
  page.push_back(char(lacing.size()));
  page += lacing + body;
  const std::uint32_t crc = PageCrc(page);
  for (int i = 0; i < 4; ++i)
    page[22 + std::size_t(i)] = char((crc >> (8 * i)) & 0xFF);
  return page;
}

}  // namespace

std::string OggPages(std::uint32_t serial, std::uint32_t* sequence,
                     const std::vector<std::string>& packets, int segmentsPerPage,
                     std::uint8_t firstFlags, std::uint64_t granule) {
  std::string lacing, body, out;
  bool continued = false, ended = false;
  std::uint8_t flags = firstFlags;
  auto flush = [&](bool more) {
    out += Page(std::uint8_t(flags | (continued ? 1 : 0)), ended ? granule : ~std::uint64_t(0),
                serial, (*sequence)++, lacing, body);
    continued = more;
    flags = 0;
    lacing.clear();
    body.clear();
    ended = false;
  };
  for (const std::string& packet : packets) {
    std::size_t at = 0;
    for (;;) {
      const std::size_t piece = std::min<std::size_t>(255, packet.size() - at);
      if (int(lacing.size()) == segmentsPerPage)
        flush(true);
      lacing.push_back(char(piece));
      body += packet.substr(at, piece);
      at += piece;
      if (piece < 255) {
        ended = true;
        break;
      }
    }
    continued = false;
  }
  flush(false);
  return out;
}

OggTone ReadOggTone(const std::string& name) {
  const std::string file = Data(name);
  OggTone tone;
  const bool opus = name.find("opus") != std::string::npos;
  const std::size_t needed = opus ? 2 : 3;
  std::string packet;
  std::size_t at = 0;
  while (at + 27 <= file.size()) {
    const std::size_t segments = static_cast<unsigned char>(file[at + 26]);
    std::size_t size = 27 + segments, body = at + 27 + segments;
    for (std::size_t s = 0; s < segments; ++s)
      size += static_cast<unsigned char>(file[at + 27 + s]);
    tone.serial = GetLe32(file, at + 14);
    if (tone.headers.size() >= needed) {
      tone.audioPages.push_back(file.substr(at, size));
    } else {
      for (std::size_t s = 0; s < segments; ++s) {
        const std::size_t piece = static_cast<unsigned char>(file[at + 27 + s]);
        packet += file.substr(body, piece);
        body += piece;
        if (piece < 255) {
          tone.headers.push_back(packet);
          packet.clear();
        }
      }
    }
    at += size;
  }
  return tone;
}

std::string OggWithComment(const OggTone& tone, const std::string& commentPacket,
                           int segmentsPerPage) {
  std::uint32_t sequence = 0;
  std::string out = OggPages(tone.serial, &sequence, {tone.headers[0]}, 255, 2, 0);
  std::vector<std::string> rest{commentPacket};
  if (tone.headers.size() > 2)
    rest.push_back(tone.headers[2]);
  out += OggPages(tone.serial, &sequence, rest, segmentsPerPage, 0, 0);
  for (std::string page : tone.audioPages) {
    for (int i = 0; i < 4; ++i) {
      page[18 + std::size_t(i)] = char((sequence >> (8 * i)) & 0xFF);
      page[22 + std::size_t(i)] = 0;
    }
    ++sequence;
    const std::uint32_t crc = PageCrc(page);
    for (int i = 0; i < 4; ++i)
      page[22 + std::size_t(i)] = char((crc >> (8 * i)) & 0xFF);
    out += page;
  }
  return out;
}

std::string ApeTagBytes(const std::vector<ApeItemSpec>& items, bool header, int count,
                        std::uint32_t version) {
  std::string body;
  for (const ApeItemSpec& item : items) {
    Le32(&body, std::uint32_t(item.value.size()));
    Le32(&body, item.flags);
    body += item.key;
    body.push_back('\0');
    body += item.value;
  }
  auto frame = [&](std::uint32_t flags) {
    std::string f = "APETAGEX";
    Le32(&f, version);
    Le32(&f, std::uint32_t(body.size() + 32));
    Le32(&f, count < 0 ? std::uint32_t(items.size()) : std::uint32_t(count));
    Le32(&f, flags);
    return f + std::string(8, '\0');
  };
  const std::uint32_t has = header ? 0x80000000u : 0;
  return (header ? frame(has | 0x20000000u) : std::string()) + body + frame(has);
}

const Module kFlac{CollectFlacText, RenderFlacRepair};
const Module kOgg{CollectOggText, RenderOggRepair};
const Module kApe{CollectApeText, RenderApeRepair};

std::string Cp1251(const std::wstring& text) {
  static const std::map<wchar_t, char> table = [] {
    std::map<wchar_t, char> t;
    for (int b = 0x80; b < 0x100; ++b)
      t[DecodeCodePage(1251, std::string(1, char(b)))[0]] = char(b);
    return t;
  }();
  std::string out;
  for (wchar_t c : text)
    out.push_back(c < 0x80 ? char(c) : table.at(c));
  return out;
}

std::string TwiceUtf8(const std::string& utf8) { return WideToUtf8(DecodeWestern(utf8)); }

}  // namespace formats
