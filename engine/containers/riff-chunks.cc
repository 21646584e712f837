// Walking the chunks of WAV and AIFF files.
#include "engine/containers/riff-chunks.h"

#include <algorithm>

#include "engine/containers/container-bytes.h"

namespace {

// A form of more chunks than this is not walked on (W1: the walk ends).
constexpr std::size_t kMostChunks = 100000;

// Reads bytes of the file, or of a buffer standing for the file's start.
struct Source {
  TagLib::IOStream* file = nullptr;
  const std::string* bytes = nullptr;
  std::uint64_t Length() const { return file ? StreamLength(file) : bytes->size(); }
  std::string Read(std::uint64_t at, std::uint64_t count) const {
    if (file)
      return ReadStreamAt(file, at, count);
    return at < bytes->size() ? bytes->substr(std::size_t(at), std::size_t(count)) : std::string();
  }
};

std::uint64_t Number(const RiffFile& riff, const std::string& bytes, std::size_t at) {
  return riff.kind == RiffFile::kAiff ? GetBigEndian(bytes, at, 4) : GetLittleEndian(bytes, at, 4);
}

bool IsTextChunk(const RiffFile& riff, const std::string& id) {
  return riff.kind == RiffFile::kAiff &&
         (id == "NAME" || id == "AUTH" || id == "ANNO" || id == "(c) ");
}

// The items of a LIST/INFO chunk's data (after "INFO").
void ReadInfo(const RiffFile& riff, const std::string& data, std::vector<RiffText>* texts) {
  for (std::size_t at = 4; data.size() - at >= 8;) {
    const std::uint64_t size = Number(riff, data, at + 4);
    if (size > data.size() - at - 8)
      return;
    std::string bytes = data.substr(at + 8, std::size_t(size));
    bytes = bytes.substr(0, bytes.find('\0'));
    texts->push_back(RiffText{data.substr(at, 4), bytes});
    at += 8 + std::size_t(size) + std::size_t(size & 1);
    if (at > data.size())
      return;
  }
}

bool Walk(const Source& source, RiffFile* riff) {
  *riff = RiffFile();
  const std::string head = source.Read(0, 12);
  if (head.size() < 12)
    return false;
  const std::string form = head.substr(0, 4), type = head.substr(8, 4);
  if ((form == "RIFF" || form == "RF64") && type == "WAVE")
    riff->kind = form == "RIFF" ? RiffFile::kWave : RiffFile::kRf64;
  else if (form == "FORM" && (type == "AIFF" || type == "AIFC"))
    riff->kind = RiffFile::kAiff;
  else
    return false;
  riff->formSize = Number(*riff, head, 4);
  const std::uint64_t length = source.Length();
  const std::uint64_t end = riff->kind == RiffFile::kRf64 ? length
                                                          : std::min(length, 8 + riff->formSize);
  riff->whole = true;
  for (std::uint64_t at = 12; at < end;) {
    const std::string header = source.Read(at, 8);
    if (header.size() < 8 || end - at < 8 || riff->chunks.size() >= kMostChunks) {
      riff->whole = false;
      break;
    }
    RiffChunk chunk{header.substr(0, 4), at, Number(*riff, header, 4)};
    riff->chunks.push_back(chunk);
    if (chunk.size > end - at - 8) {
      riff->whole = false;
      break;
    }
    const bool tag = chunk.id == "id3 " || chunk.id == "ID3 ";
    if (tag)
      riff->tagChunks.push_back(riff->chunks.size() - 1);
    if (chunk.size <= kLargestTextChunk && !tag) {
      if (riff->kind != RiffFile::kAiff && chunk.id == "LIST") {
        const std::string data = source.Read(chunk.body(), chunk.size);
        if (data.compare(0, 4, "INFO") == 0)
          ReadInfo(*riff, data, &riff->texts);
      } else if (IsTextChunk(*riff, chunk.id)) {
        std::string bytes = source.Read(chunk.body(), chunk.size);
        riff->texts.push_back(RiffText{chunk.id, bytes.substr(0, bytes.find('\0'))});
      }
    }
    at = chunk.body() + chunk.size + (chunk.size & 1);
  }
  return true;
}

}  // namespace

bool ReadRiffFile(TagLib::IOStream* file, RiffFile* riff) {
  Source source;
  source.file = file;
  return Walk(source, riff);
}

bool ParseRiffBytes(const std::string& bytes, RiffFile* riff) {
  Source source;
  source.bytes = &bytes;
  return Walk(source, riff);
}

std::string RiffSizeBytes(const RiffFile& riff, std::uint64_t size) {
  return riff.kind == RiffFile::kAiff ? BigEndianBytes(size, 4) : LittleEndianBytes(size, 4);
}

std::size_t AudioChunk(const RiffFile& riff) {
  for (std::size_t i = 0; i < riff.chunks.size(); ++i) {
    if (riff.chunks[i].id == (riff.kind == RiffFile::kAiff ? "SSND" : "data"))
      return i;
  }
  return riff.chunks.size();
}
