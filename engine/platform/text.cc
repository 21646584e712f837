// Conversions of text shown to a person.
#include <string>

#include "engine/platform/platform.h"
#include "engine/platform/text.h"

namespace {

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t c = WideCharAt(text, &i);
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
      c = kReplacement;
    AppendUtf8(&out, c);
  }
  return out;
}

std::size_t Utf8SequenceAt(const std::string& bytes, std::size_t i, char32_t* decoded) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char b = s[i];
  std::size_t length = 0;
  char32_t c = 0, minimum = 0;
  if (b < 0x80) {
    *decoded = b;
    return 1;
  } else if (b >= 0xC2 && b <= 0xDF) {
    length = 2, c = b & 0x1F, minimum = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, c = b & 0x0F, minimum = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, c = b & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > bytes.size())
    return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((s[i + k] & 0xC0) != 0x80)
      return 0;
    c = (c << 6) | (s[i + k] & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    return 0;
  *decoded = c;
  return length;
}

std::string SanitizeUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    if (length) {
      out.append(bytes, i, length);
      i += length;
    } else {
      AppendUtf8(&out, kReplacement);
      ++i;  // one replacement per byte that starts no valid sequence
    }
  }
  return out;
}

char32_t WideCharAt(const std::wstring& text, std::size_t* i) {
  char32_t c = static_cast<char32_t>(text[*i]);
  if (sizeof(wchar_t) == 2)
    c &= 0xFFFF;
  ++*i;
  if (c >= 0xD800 && c <= 0xDBFF && *i < text.size()) {
    const char32_t low = static_cast<char32_t>(text[*i]) & 0xFFFF;
    if (low >= 0xDC00 && low <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++*i;
    }
  }
  return c;
}

void AppendWide(std::wstring* out, char32_t c) {
  if (sizeof(wchar_t) == 2 && c >= 0x10000) {
    c -= 0x10000;
    out->push_back(wchar_t(0xD800 + (c >> 10)));
    out->push_back(wchar_t(0xDC00 + (c & 0x3FF)));
  } else {
    out->push_back(wchar_t(c));
  }
}

bool IsValidUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    if (length == 0)
      return false;
    i += length;
  }
  return true;
}
