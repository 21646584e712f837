// Telling UTF-8 text apart from legacy code-page bytes, and decoding it, for
// album decisions: text already written as UTF-8 is no legacy text to read.
#include "engine/album.h"
#include "engine/platform.h"

bool IsMultiByteUtf8(const std::string& bytes, bool allowC1) {
  bool multiByte = false;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    if (length == 0)
      return false;
    // C1 controls are no text anyone writes.
    if (!allowC1 && c >= 0x80 && c < 0xA0)
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
    AppendWide(&text, length ? c : 0xFFFD);
    i += length ? length : 1;
  }
  return text;
}
