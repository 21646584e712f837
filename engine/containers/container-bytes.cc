// Byte-level pieces the container modules share.
#include "engine/containers/container-bytes.h"

#include <algorithm>

std::uint64_t StreamLength(TagLib::IOStream* file) {
  const long length = file->length();
  return length > 0 ? std::uint64_t(length) : 0;
}

std::string ReadStreamAt(TagLib::IOStream* file, std::uint64_t offset, std::uint64_t count) {
  const std::uint64_t length = StreamLength(file);
  if (offset >= length)
    return std::string();
  if (count > length - offset)
    count = length - offset;
  std::string out;
  constexpr std::uint64_t kPiece = 1 << 24;  // readBlock takes an unsigned long
  file->seek(long(offset));
  while (out.size() < count) {
    const std::uint64_t want = std::min<std::uint64_t>(kPiece, count - out.size());
    const TagLib::ByteVector piece = file->readBlock(static_cast<unsigned long>(want));
    if (piece.isEmpty())
      break;
    out.append(piece.data(), piece.size());
  }
  return out;
}

std::uint64_t GetBigEndian(const std::string& bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::uint64_t GetLittleEndian(const std::string& bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

void PutBigEndian(std::string* bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i, value >>= 8)
    (*bytes)[at + i] = char(value & 0xFF);
}

void PutLittleEndian(std::string* bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i, value >>= 8)
    (*bytes)[at + i] = char(value & 0xFF);
}

std::string BigEndianBytes(std::uint64_t value, int width) {
  std::string out(std::size_t(width), '\0');
  PutBigEndian(&out, 0, value, width);
  return out;
}

std::string LittleEndianBytes(std::uint64_t value, int width) {
  std::string out(std::size_t(width), '\0');
  PutLittleEndian(&out, 0, value, width);
  return out;
}

std::wstring DecodeUtf16(const std::string& bytes, bool bigEndian) {
  std::wstring text;
  const auto unit = [&](std::size_t i) {
    return char32_t(bigEndian ? GetBigEndian(bytes, i, 2) : GetLittleEndian(bytes, i, 2));
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char32_t c = unit(i);
    if (sizeof(wchar_t) == 4 && c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        text.push_back(wchar_t(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00)));
        i += 2;
        continue;
      }
    }
    text.push_back(wchar_t(c));
  }
  return text;
}

std::string EncodeUtf16(const std::wstring& text, bool bigEndian) {
  std::string out;
  const auto put = [&](std::uint32_t u) {
    out += bigEndian ? BigEndianBytes(u, 2) : LittleEndianBytes(u, 2);
  };
  for (wchar_t wc : text) {
    const std::uint32_t c = std::uint32_t(wc);
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

unsigned RefuseRepair(FileOutcome* outcome, const std::wstring& detail) {
  outcome->issue = kIssueCouldNotSave;
  outcome->detail = detail;
  outcome->changes.clear();
  return WM_FIX_FAILED;
}
