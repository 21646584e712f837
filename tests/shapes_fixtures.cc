#include "tests/shapes_fixtures.h"

#include <map>

#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/text/codepage.h"
#include "engine/platform/platform.h"
#include "engine/platform/text.h"

namespace shapes {

std::string Encode(unsigned codePage, const std::wstring& text) {
  std::map<wchar_t, char> bytes;
  for (int b = 0xFF; b >= 0; --b) {
    const std::wstring decoded = DecodeCodePage(codePage, std::string(1, char(b)));
    if (decoded.size() == 1)
      bytes[decoded[0]] = char(b);
  }
  std::string out;
  for (wchar_t c : text) {
    const auto it = bytes.find(c);
    out.push_back(it == bytes.end() ? '?' : it->second);
  }
  return out;
}

std::wstring Latin1(const std::string& bytes) {
  std::wstring text;
  for (char c : bytes)
    text.push_back(wchar_t(static_cast<unsigned char>(c)));
  return text;
}

std::wstring Widened1252(const std::string& bytes) {
  return DecodeCodePage(1252, bytes);
}

std::wstring SignExtended(const std::string& bytes) {
  std::wstring text;
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    text.push_back(b < 0x80 ? wchar_t(b) : wchar_t(0xFF00 | b));
  }
  return text;
}

std::string Utf8(const std::wstring& text) {
  return WideToUtf8(text);
}

std::wstring FromUtf8(const std::string& bytes) {
  return DecodeUtf8(bytes);
}

}  // namespace shapes
