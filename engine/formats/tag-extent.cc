// Telling a tag's size from the headers that lead to it.
#include "engine/formats/tag-extent.h"

#include <algorithm>

#include "engine/platform/bytes-le.h"

namespace {

// Bounds the headers walked in a file that is not what its name says.
constexpr int kMostHeaders = 4096;

// `count` bytes at `offset`, none when they lie past `length` (E2).
std::string ReadAt(NativeFile* file, std::uint64_t length, std::uint64_t offset,
                   std::size_t count) {
  std::string bytes;
  if (offset > length || length - offset < count)
    return bytes;
  bytes.resize(count);
  if (count && !ReadFileAt(file, offset, &bytes[0], count))
    bytes.clear();
  return bytes;
}

std::uint64_t Id3v2Extent(const std::string& head) {
  const auto byte = [&head](std::size_t at) { return static_cast<unsigned char>(head[at]); };
  if (head.size() < 10 || head.compare(0, 3, "ID3") != 0)
    return 0;
  std::uint64_t extent = 10;
  for (std::size_t at = 6; at < 10; ++at)
    extent += std::uint64_t(byte(at) & 0x7F) << (7 * (9 - at));
  if (byte(3) == 4 && (byte(5) & 0x10))
    extent += 10;  // a footer
  return extent;
}

std::uint64_t FlacExtent(NativeFile* file, std::uint64_t length) {
  std::uint64_t at = 4, extent = 0;
  if (ReadAt(file, length, 0, 4) != "fLaC")
    return 0;
  for (int i = 0; i < kMostHeaders; ++i) {
    const std::string header = ReadAt(file, length, at, 4);
    if (header.size() != 4)
      break;
    const std::uint64_t size = ReadBe(header, 1, 3);
    if ((header[0] & 0x7F) != 6)  // pictures are neither read nor rewritten
      extent += 4 + size;
    at += 4 + size;
    if (header[0] & 0x80)
      break;
  }
  return extent;
}

// The pages from the file's start while their granule says no audio has
// ended on them (0, or none for a page where no packet ends).
std::uint64_t OggExtent(NativeFile* file, std::uint64_t length) {
  std::uint64_t at = 0;
  for (int i = 0; i < kMostHeaders; ++i) {
    const std::string header = ReadAt(file, length, at, 27);
    if (header.size() != 27 || header.compare(0, 4, "OggS") != 0)
      break;
    const std::uint64_t granule = ReadLe64(header, 6);
    if (granule != 0 && granule != ~std::uint64_t(0))
      break;
    const std::string lacing =
        ReadAt(file, length, at + 27, static_cast<unsigned char>(header[26]));
    std::uint64_t body = 0;
    for (char c : lacing)
      body += static_cast<unsigned char>(c);
    at += 27 + lacing.size() + body;
  }
  return std::min(at, length);
}

std::uint64_t Mp4Extent(NativeFile* file, std::uint64_t length) {
  std::uint64_t at = 0;
  for (int i = 0; i < kMostHeaders; ++i) {
    const std::string header = ReadAt(file, length, at, 8);
    if (header.size() != 8)
      break;
    std::uint64_t size = ReadBe(header, 0, 4);
    if (size == 1) {
      const std::string large = ReadAt(file, length, at + 8, 8);
      if (large.size() != 8)
        break;
      size = (std::uint64_t(ReadBe(large, 0, 4)) << 32) | ReadBe(large, 4, 4);
    } else if (size == 0) {
      size = length - at;
    }
    if (size < 8)
      break;
    if (header.compare(4, 4, "moov") == 0)
      return std::min(size, length - at);
    at += size;
  }
  return 0;
}

// The APEv2 footer at the end, before an ID3v1 tag if there is one.
std::uint64_t ApeExtent(NativeFile* file, std::uint64_t length) {
  std::uint64_t end = length;
  if (length >= 128 && ReadAt(file, length, length - 128, 3) == "TAG")
    end -= 128;
  if (end < 32)
    return 0;
  const std::string footer = ReadAt(file, length, end - 32, 32);
  if (footer.size() != 32 || footer.compare(0, 8, "APETAGEX") != 0)
    return 0;
  const std::uint64_t size = ReadLe32(footer, 12) + ((ReadLe32(footer, 20) >> 31) ? 32 : 0);
  return std::min(size, end);
}

}  // namespace

std::uint64_t TagExtent(NativeFile* file, AudioFormat format, const std::string& head) {
  std::uint64_t length = 0;
  if (format == AudioFormat::kMp3)
    return Id3v2Extent(head);
  if (!file || !FileSizeOf(file, &length))
    return 0;
  switch (format) {
    case AudioFormat::kFlac: return FlacExtent(file, length);
    case AudioFormat::kOgg: return OggExtent(file, length);
    case AudioFormat::kMp4: return Mp4Extent(file, length);
    case AudioFormat::kApe: return ApeExtent(file, length);
    default: return 0;
  }
}
