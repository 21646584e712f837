// Telling UTF-8 text apart from legacy code-page bytes, and decoding it, for
// album decisions: text already written as UTF-8 is no legacy text to read.
#include "engine/album.h"

namespace {

// Appends a character: as one unit where wchar_t holds every character, as
// a surrogate pair where it holds UTF-16.
void AppendUtf8Decoded(std::wstring* out, char32_t c) {
  if (sizeof(wchar_t) == 2 && c >= 0x10000) {
    c -= 0x10000;
    out->push_back(wchar_t(0xD800 + (c >> 10)));
    out->push_back(wchar_t(0xDC00 + (c & 0x3FF)));
  } else {
    out->push_back(wchar_t(c));
  }
}

}  // namespace

bool IsMultiByteUtf8(const std::string& bytes) {
  bool multiByte = false;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    if (length == 0)
      return false;
    // C1 controls are no text anyone writes.
    if (c >= 0x80 && c < 0xA0)
      return false;
    multiByte = multiByte || length > 1;
    i += length;
  }
  return multiByte;
}

std::wstring DecodeUtf8(const std::string& bytes) {
  std::wstring text;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0xFFFD;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    AppendUtf8Decoded(&text, length ? c : 0xFFFD);
    i += length ? length : 1;
  }
  return text;
}
