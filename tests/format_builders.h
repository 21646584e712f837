// Builders for FLAC, Ogg and APEv2 test files with exactly the bytes a test
// needs, written apart from the engine's own writers (a CRC of their own,
// pages laid out their own way) so that the tests do not check the engine
// against itself; and the real audio of the tiny files under
// tests/data/formats (scripts/make-format-fixtures.sh).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/formats/format.h"
#include "tests/formats_fixtures.h"

namespace formats {

// A Vorbis comment block: vendor, then the entries as given.
std::string VorbisComment(const std::string& vendor, const std::vector<std::string>& entries);

struct FlacBlock {
  int type;
  std::string content;
};
// "fLaC", the blocks (the last one flagged), then `audio`.
std::string FlacFile(const std::vector<FlacBlock>& blocks, const std::string& audio);
// A PICTURE block's content with `data` as the image.
std::string PictureBlock(const std::string& data);
// The STREAMINFO content and the audio frames of tests/data/formats/tone.flac.
void ToneFlac(std::string* streamInfo, std::string* audio);

// The Ogg CRC of a page whose CRC field is zero.
std::uint32_t PageCrc(const std::string& page);
// Pages holding the packets in order, at most `segmentsPerPage` segments
// each, numbered from `sequence` on; the first page gets `firstFlags`. The
// last packet ends the last page.
std::string OggPages(std::uint32_t serial, std::uint32_t* sequence,
                     const std::vector<std::string>& packets, int segmentsPerPage,
                     std::uint8_t firstFlags, std::uint64_t granule);

struct OggTone {
  std::uint32_t serial = 0;
  std::vector<std::string> headers;  // the header packets
  std::vector<std::string> audioPages;  // the pages after them, as stored
};
// The header packets and audio pages of tests/data/formats/tone.ogg or tone.opus.
OggTone ReadOggTone(const std::string& name);
// The tone's stream with the given comment packet, laid out at most
// `segmentsPerPage` segments a page; the audio pages renumbered to follow.
std::string OggWithComment(const OggTone& tone, const std::string& commentPacket,
                           int segmentsPerPage = 255);

struct ApeItemSpec {
  std::string key;
  std::string value;
  std::uint32_t flags = 0;
};
// An APEv2 tag (version 2000, or `version`), with a header when asked;
// `count` when non-negative is stored in place of the true item count.
std::string ApeTagBytes(const std::vector<ApeItemSpec>& items, bool header, int count = -1,
                        std::uint32_t version = 2000);

// The modules of these formats, run as every container module's tests run
// them (tests/formats_fixtures.h).
using container_fixtures::Automatic;
using container_fixtures::Module;
using container_fixtures::Named;
using Result = container_fixtures::Run;
extern const Module kFlac, kOgg, kApe;
inline Result Repair(const Module& module, const std::string& file, const Redecoding& redecoding) {
  return container_fixtures::RunModule(module, file, redecoding);
}

// Text in cp1251 bytes, and UTF-8 encoded twice (as Windows-1252 read it).
std::string Cp1251(const std::wstring& text);
std::string TwiceUtf8(const std::string& utf8);

}  // namespace formats
