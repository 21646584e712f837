// Telling UTF-8 text apart from legacy code-page bytes, and decoding it, for
// album decisions: text already written as UTF-8 is no legacy text to read.
#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/platform/platform.h"
#include "engine/platform/text.h"

namespace {

// The script block of a character real text is written in: 0 for Latin,
// punctuation and symbols, which go with any script; -1 for characters no
// title holds (IPA, the rarer Latin and Cyrillic letters, Syriac, Mongolian, ...), which legacy bytes
// read as UTF-8 often give ("ʥԼɪ" from the GBK bytes of "圣约瑟").
int TextBlock(char32_t c) {
  struct Range {
    char32_t low, high;
    int block;
  };
  static constexpr Range kRanges[] = {
      {0x00A0, 0x017F, 0}, {0x01A0, 0x01A1, 0}, {0x01AF, 0x01B0, 0}, {0x0218, 0x021B, 0},
      {0x0300, 0x036F, 0}, {0x0370, 0x03FF, 1}, {0x0400, 0x045F, 2}, {0x0490, 0x0491, 2},
      {0x0530, 0x058F, 7}, {0x0590, 0x05FF, 3}, {0x0600, 0x06FF, 4}, {0x0900, 0x0DFF, 8},
      {0x0E00, 0x0E7F, 5}, {0x10A0, 0x10FF, 9}, {0x1E00, 0x1EFF, 0},
      {0x2000, 0x2BFF, 0}, {0x3000, 0x30FF, 6}, {0x3400, 0x4DBF, 6}, {0x4E00, 0x9FFF, 6},
      {0xAC00, 0xD7A3, 6}, {0xF900, 0xFAFF, 6}, {0xFE30, 0xFE4F, 6}, {0xFF00, 0xFFEF, 6},
      {0x1F000, 0x1FAFF, 0}};
  if (c < 0x80)
    return 0;
  for (const Range& range : kRanges) {
    if (c >= range.low && c <= range.high)
      return range.block;
  }
  return -1;
}

}  // namespace

bool IsMultiByteUtf8(const std::string& bytes, bool allowC1) {
  bool multiByte = false;
  int script = 0;  // the one script block the text's letters are in
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    if (length == 0)
      return false;
    // C1 controls are no text anyone writes.
    if (!allowC1 && c >= 0x80 && c < 0xA0)
      return false;
    // As text (not as a layer of UTF-8 encoded again) it holds characters
    // of one script at most, each of a script titles are written in.
    if (!allowC1) {
      const int block = TextBlock(c);
      if (block < 0 || (block > 0 && script > 0 && block != script))
        return false;
      script = block > 0 ? block : script;
    }
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
