// Taking wrong text back to the bytes its first writer had.
#include "engine/text/album-utf8.h"
#include "engine/text/text-shape.h"

#include <algorithm>
#include <cwchar>

#include "engine/text/album.h"
#include "engine/platform/platform.h"
#include "engine/text/suggest-letters.h"

namespace {

// Windows-1252's characters for 0x80-0x9F; 0 where it defines none.
constexpr wchar_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool CollapseChar(wchar_t c, unsigned char* byte) {
  const unsigned u = unsigned(c);
  if (u <= 0xFF) {
    *byte = static_cast<unsigned char>(u);
    return true;
  }
  if (u >= 0xFF80 && u <= 0xFFFF) {
    *byte = static_cast<unsigned char>(u & 0xFF);
    return true;
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kCp1252High[i] && kCp1252High[i] == c) {
      *byte = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

bool IsAscii(const std::wstring& text) {
  for (wchar_t c : text) {
    if (unsigned(c) >= 0x80)
      return false;
  }
  return true;
}

// UTF-8 holding C1 controls is no text anyone writes, unless it is a layer
// of UTF-8 encoded twice: bytes 0x80-0x9F read as Latin-1 and encoded again.
// It counts as a layer when what it holds is UTF-8 again.
bool HoldsUtf8Again(const std::string& bytes, std::string* inner) {
  return IsMultiByteUtf8(bytes, true) && CollapseToBytes(DecodeUtf8(bytes), inner) &&
         IsMultiByteUtf8(*inner, true);
}

}  // namespace

bool CollapseToBytes(const std::wstring& text, std::string* bytes) {
  bytes->clear();
  bytes->reserve(text.size());
  // U+FFFD is the replacement character an earlier program wrote for what
  // it could not read, and has no byte beneath it; it is 0xFD sign-extended
  // only in text that holds other sign-extended bytes.
  const bool signExtended = std::any_of(text.begin(), text.end(), [](wchar_t c) {
    return unsigned(c) >= 0xFF80 && unsigned(c) <= 0xFFFF && unsigned(c) != 0xFFFD;
  });
  for (wchar_t c : text) {
    unsigned char byte = 0;
    if ((unsigned(c) == 0xFFFD && !signExtended) || !CollapseChar(c, &byte))
      return false;
    bytes->push_back(char(byte));
  }
  return true;
}

TextShape ShapeOf(const std::wstring& stored) {
  TextShape shape;
  if (IsAscii(stored))
    return shape;
  if (!CollapseToBytes(stored, &shape.bytes)) {
    shape.kind = ShapeKind::kUnicode;
    shape.bytes.clear();
    return shape;
  }
  // Each layer of UTF-8 is taken off while what it holds can be bytes
  // again; a layer holding other characters is the text itself.
  for (;;) {
    std::string inner;
    if (IsMultiByteUtf8(shape.bytes)) {
      if (!CollapseToBytes(DecodeUtf8(shape.bytes), &inner)) {
        shape.kind = ShapeKind::kUtf8;
        return shape;
      }
    } else if (!HoldsUtf8Again(shape.bytes, &inner)) {
      shape.kind = ShapeKind::kBytes;
      return shape;
    }
    shape.bytes = std::move(inner);
    ++shape.utf8Layers;
  }
}

std::wstring DecodeWestern(const std::string& bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    const bool high = b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80];
    text.push_back(high ? kCp1252High[b - 0x80] : wchar_t(b));
  }
  return text;
}

// Windows gives '?' for a sequence it cannot map, and code page 932 gives
// U+30FB, which it also gives for the bytes 0x81 0x45.
bool ReadsCleanly(const std::string& bytes, const std::wstring& text) {
  std::size_t questionBytes = 0, questionChars = 0, dotBytes = 0, dotChars = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    questionBytes += bytes[i] == '?';
    dotBytes += bytes.compare(i, 2, "\x81\x45") == 0;
  }
  // Control characters below 0x20 read the same through every page.
  wchar_t before = 0;
  for (wchar_t c : text) {
    const unsigned u = unsigned(c);
    // Vietnamese tone marks (cp1258) sit on a vowel.
    static const wchar_t kVowels[] = L"aeiouyAEIOUY\x00E2\x00EA\x00F4\x01A1\x01B0\x0103"
                                     L"\x00C2\x00CA\x00D4\x01A0\x01AF\x0102";
    if (u >= 0x300 && u <= 0x36F && (before == 0 || !std::wcschr(kVowels, before)))
      return false;
    before = c;
    if ((u >= 0x7F && u < 0xA0) || u == 0xFFFD)
      return false;
    questionChars += c == L'?';
    dotChars += u == 0x30FB;
  }
  return questionChars == questionBytes && dotChars <= dotBytes;
}

bool SwapsLatinLetters(const std::string& bytes, const std::wstring& text) {
  if (text.size() != bytes.size())
    return false;
  const std::wstring western = DecodeWestern(bytes);
  bool any = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80)
      continue;
    const CharClass stored = Classify(western[i]), read = Classify(text[i]);
    if (stored.kind != Kind::kLetter || stored.script != Script::kLatin ||
        read.kind != Kind::kLetter || read.script != Script::kLatin)
      return false;
    any = true;
  }
  return any;
}

bool IsDoubleByte(unsigned codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}
