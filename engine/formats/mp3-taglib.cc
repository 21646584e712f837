#include "engine/formats/mp3-taglib.h"

#include <cstring>
#include <string>

#include <taglib/apetag.h>
#include <taglib/fileref.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include "engine/containers/container-bytes.h"
#include "engine/formats/stored-tag.h"

namespace {

// A TagLib file over a stream, for TagLib's tag readers, which read
// through a file: it holds no tag of its own and never saves.
class StreamFile : public TagLib::File {
 public:
  explicit StreamFile(TagLib::IOStream* stream) : TagLib::File(stream) {}
  TagLib::Tag* tag() const override { return nullptr; }
  TagLib::AudioProperties* audioProperties() const override { return nullptr; }
  bool save() override { return false; }
};

bool IsFrameSync(unsigned char first, unsigned char second) {
  return first == 0xFF && second != 0xFF && (second & 0xE0) == 0xE0;
}

// The length of the MPEG frame whose header is `header` (4 bytes); 0 when
// the header is not valid.
int FrameLength(const std::string& header) {
  const auto byte = [&header](std::size_t at) { return static_cast<unsigned char>(header[at]); };
  if (header.size() < 4 || !IsFrameSync(byte(0), byte(1)))
    return 0;
  // MPEG 1, 2 and 2.5 by their version bits (1 is reserved).
  const int versionBits = (byte(1) >> 3) & 0x03;
  if (versionBits == 1)
    return 0;
  const int version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
  const int layerBits = (byte(1) >> 1) & 0x03;
  if (layerBits == 0)
    return 0;
  const int layer = 4 - layerBits;  // 1, 2 or 3
  static const int kBitrates[2][3][16] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
  static const int kSampleRates[3][4] = {
      {44100, 48000, 32000, 0}, {22050, 24000, 16000, 0}, {11025, 12000, 8000, 0}};
  static const int kSamplesPerFrame[3][2] = {{384, 384}, {1152, 1152}, {1152, 576}};
  static const int kPadding[3] = {4, 1, 1};
  const int versionIndex = version == 0 ? 0 : 1;
  const int bitrate = kBitrates[versionIndex][layer - 1][(byte(2) >> 4) & 0x0F];
  const int sampleRate = kSampleRates[version][(byte(2) >> 2) & 0x03];
  if (bitrate == 0 || sampleRate == 0)
    return 0;
  int length = kSamplesPerFrame[layer - 1][versionIndex] * bitrate * 125 / sampleRate;
  if (byte(2) & 0x02)
    length += kPadding[layer - 1];
  return length;
}

// Whether a valid frame header starts at `offset`: its next frame's header
// agrees on version, layer, sample rate and channel mode.
bool ValidFrameAt(EditStream* stream, std::uint64_t offset) {
  const std::string header = ReadContentAt(stream, offset, 4);
  const int length = FrameLength(header);
  if (length == 0)
    return false;
  const std::string next = ReadContentAt(stream, offset + std::uint64_t(length), 4);
  constexpr std::uint64_t kMask = 0xfffe0c00;
  return next.size() == 4 &&
         (GetBigEndian(header, 0, 4) & kMask) == (GetBigEndian(next, 0, 4) & kMask);
}

}  // namespace

std::int64_t FindId3v2AsTagLib(EditStream* stream) {
  if (ReadContentAt(stream, 0, 3) == "ID3")
    return 0;
  if (ValidFrameAt(stream, 0))
    return -1;
  // The bytes in order, with the two before each block carried over: a
  // frame sync ending at a byte is tried before an "ID3" ending there.
  constexpr std::uint64_t kBlock = 64 * 1024;
  std::string window(2, '\0');
  for (std::uint64_t position = 0;; position += kBlock) {
    window.erase(0, window.size() - 2);
    const std::string block = ReadContentAt(stream, position, kBlock);
    if (block.empty())
      return -1;
    window += block;
    const auto* bytes = reinterpret_cast<const unsigned char*>(window.data());
    for (std::size_t at = 2; at < window.size(); ++at) {
      const unsigned char byte = bytes[at];
      // `at` stands for byte position + at - 2 of the file.
      if (byte >= 0xE0 && IsFrameSync(bytes[at - 1], byte) &&
          ValidFrameAt(stream, position + at - 3))
        return -1;
      if (byte == '3' && bytes[at - 1] == 'D' && bytes[at - 2] == 'I')
        return std::int64_t(position + at - 4);
    }
  }
}

bool ReadMp3TagsThroughTagLib(EditStream* stream, Mp3TagLibTags* tags) {
  if (!stream->isOpen())
    return false;
  tags->file = std::make_unique<StreamFile>(stream);
  TagLib::File* file = tags->file.get();
  const std::int64_t id3v2 = FindId3v2AsTagLib(stream);
  if (id3v2 >= 0)
    tags->id3v2 = std::make_unique<TagLib::ID3v2::Tag>(file, long(id3v2));
  // The ID3v1 tag in the last 128 bytes, unless they end an APEv2 tag.
  long id3v1 = -1;
  if (file->length() >= 131) {
    file->seek(-131, TagLib::File::End);
    const long at = file->tell() + 3;
    const TagLib::ByteVector data = file->readBlock(8);
    if (data.containsAt(TagLib::ID3v1::Tag::fileIdentifier(), 3) &&
        data != TagLib::APE::Tag::fileIdentifier())
      id3v1 = at;
  } else {
    file->seek(-128, TagLib::File::End);
    const long at = file->tell();
    if (file->readBlock(3) == TagLib::ID3v1::Tag::fileIdentifier())
      id3v1 = at;
  }
  tags->id3v1 = id3v1 >= 0 ? std::make_unique<TagLib::ID3v1::Tag>(file, id3v1)
                           : std::make_unique<TagLib::ID3v1::Tag>();
  return true;
}

namespace {

// The Latin-1 text frames holding a byte at or above 0x80 that TagLib reads.
std::size_t Latin1TextFrames(const TagLib::ID3v2::Tag& taglibTag) {
  std::size_t seen = 0;
  for (const TagLib::ID3v2::Frame* frame : taglibTag.frameList()) {
    const auto* text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frame);
    if (text && text->textEncoding() == TagLib::String::Latin1 && !text->toString().isAscii())
      ++seen;
  }
  return seen;
}

// What the repair asks of TagLib's reading of the ID3v2 and ID3v1 tags.
// TagLib's own reading of the frames is a second opinion: a frame it would
// repair that the tag's layout does not hold stops the repair.
void TakeTagLibReading(const TagLib::ID3v2::Tag* id3v2, const TagLib::ID3v1::Tag* id3v1,
                       const Redecoding& redecoding, TagLibReading* out) {
  out->hasId3v2 = id3v2 != nullptr;
  if (id3v2 && !redecoding.automatic)
    FixTextFrames(id3v2->frameList(), redecoding, out->wouldChange, nullptr);
  if (id3v2 && redecoding.automatic)
    out->latin1Text = Latin1TextFrames(*id3v2);
  if (id3v1) {
    out->id3v1 = std::make_unique<TagLib::ID3v1::Tag>();
    out->id3v1->setTitle(id3v1->title());
    out->id3v1->setArtist(id3v1->artist());
    out->id3v1->setAlbum(id3v1->album());
    out->id3v1->setComment(id3v1->comment());
    out->id3v1->setGenreNumber(id3v1->genreNumber());
    out->id3v1->setYear(id3v1->year());
    out->id3v1->setTrack(id3v1->track());
  }
}

}  // namespace

bool ReadThroughTagLib(EditStream* stream, bool mp3Name, const Redecoding& redecoding,
                       TagLibReading* out) {
  if (mp3Name) {
    Mp3TagLibTags tags;
    if (!ReadMp3TagsThroughTagLib(stream, &tags))
      return false;
    TakeTagLibReading(tags.id3v2.get(), tags.id3v1.get(), redecoding, out);
    return true;
  }
  TagLib::FileRef ref(stream, false);
  auto* file = dynamic_cast<TagLib::MPEG::File*>(ref.file());
  if (!file || !file->isOpen())
    return false;
  TakeTagLibReading(file->hasID3v2Tag() ? file->ID3v2Tag(false) : nullptr, file->ID3v1Tag(false),
                    redecoding, out);
  return true;
}
