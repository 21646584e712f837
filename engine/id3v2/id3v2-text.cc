// The text of stored frames, read apart from TagLib: each value of a text
// frame decoded from its stored encoding.
#include <cstdint>

#include "engine/id3v2/id3v2-layout.h"
#include "engine/id3v2/id3v2-text.h"
#include "engine/platform/platform.h"
#include "engine/platform/text.h"

bool IsEmptyTextFrame(const Id3v2Frame& frame) {
  return !frame.malformed && !frame.compressed && !frame.encrypted && !frame.data.empty() &&
         frame.data.find_first_not_of('\0', 1) == std::string::npos;
}

namespace {

// UTF-8 as the code units of its characters; a broken sequence still gives
// one character, as TagLib reads it.
std::wstring DecodeUtf8Field(const std::string& field) {
  std::wstring decoded;
  for (std::size_t i = 0; i < field.size();) {
    const unsigned char lead = static_cast<unsigned char>(field[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (int k = 1; k < length && i + k < field.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(field[i + k]) & 0x3F);
    i += length;
    AppendWide(&decoded, c);
  }
  return decoded;
}

// UTF-16 that a byte-order mark may start (big-endian when `bigEndian` and
// no mark says otherwise); a lone surrogate stays as it is.
std::wstring DecodeUtf16Field(const std::string& field, bool bigEndian) {
  std::wstring decoded;
  std::size_t i = 0;
  if (!bigEndian && field.size() >= 2) {
    if (field.compare(0, 2, "\xFE\xFF") == 0) {
      bigEndian = true;
      i = 2;
    } else if (field.compare(0, 2, "\xFF\xFE") == 0) {
      i = 2;
    }
  }
  std::uint32_t high = 0;
  for (; i + 1 < field.size(); i += 2) {
    const unsigned char a = static_cast<unsigned char>(field[i]);
    const unsigned char b = static_cast<unsigned char>(field[i + 1]);
    const std::uint32_t unit = bigEndian ? (a << 8) | b : (b << 8) | a;
    if (unit >= 0xD800 && unit < 0xDC00) {
      high = unit;
      continue;
    }
    if (high && unit >= 0xDC00 && unit < 0xE000) {
      AppendWide(&decoded, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
    } else {
      if (high)
        decoded.push_back(wchar_t(high));
      decoded.push_back(wchar_t(unit));
    }
    high = 0;
  }
  if (high)
    decoded.push_back(wchar_t(high));
  return decoded;
}

}  // namespace

std::wstring DecodeStoredText(const std::string& bytes, int encoding) {
  if (encoding == 3)
    return DecodeUtf8Field(bytes);
  if (encoding == 1 || encoding == 2)
    return DecodeUtf16Field(bytes, encoding == 2);
  std::wstring decoded;
  for (char c : bytes)  // Latin-1 bytes as they are
    decoded.push_back(wchar_t(static_cast<unsigned char>(c)));
  return decoded;
}

bool TextFrameFields(const Id3v2Frame& frame, bool keepEmpty, std::vector<std::wstring>* fields) {
  fields->clear();
  if (frame.malformed || frame.compressed || frame.encrypted || frame.data.empty())
    return false;
  const int encoding = static_cast<unsigned char>(frame.data[0]);
  if (encoding > 3)
    return false;
  const std::string text = frame.data.substr(1);
  const std::size_t unit = encoding == 1 || encoding == 2 ? 2 : 1;
  std::vector<std::string> stored;
  std::size_t start = 0;
  for (std::size_t at = 0;; at += unit) {
    if (at + unit > text.size()) {
      stored.push_back(text.substr(start));
      break;
    }
    if (text.compare(at, unit, std::string(unit, '\0')) == 0) {
      stored.push_back(text.substr(start, at - start));
      start = at + unit;
    }
  }
  for (const std::string& field : stored) {
    std::wstring decoded = DecodeStoredText(field, encoding);
    if (keepEmpty || !decoded.empty())
      fields->push_back(std::move(decoded));
  }
  // A terminating NUL ends the last value rather than starting another.
  while (keepEmpty && fields->size() > 1 && fields->back().empty())
    fields->pop_back();
  return true;
}
