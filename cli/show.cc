#include "cli/show.h"
#include "engine/platform/text.h"

namespace {

const char kHex[] = "0123456789abcdef";

void AppendEscape(std::string* out, char kind, unsigned value, int digits) {
  out->push_back('\\');
  out->push_back(kind);
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    out->push_back(kHex[(value >> shift) & 0xF]);
}

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x800) {
    out->push_back(char(0xC0 | (c >> 6)));
  } else if (c < 0x10000) {
    out->push_back(char(0xE0 | (c >> 12)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
  } else {
    out->push_back(char(0xF0 | (c >> 18)));
    out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
  }
  out->push_back(char(0x80 | (c & 0x3F)));
}

// One character of valid text.
void AppendShown(std::string* out, char32_t c, bool escapeBackslash) {
  switch (c) {
    case '\\':
      *out += escapeBackslash ? "\\\\" : "\\";
      return;
    case '\t':
      *out += "\\t";
      return;
    case '\n':
      *out += "\\n";
      return;
    case '\r':
      *out += "\\r";
      return;
    default:
      break;
  }
  if (c < 0x20 || c == 0x7F) {
    AppendEscape(out, 'x', unsigned(c), 2);
  } else if (c >= 0x80 && c <= 0x9F) {
    AppendEscape(out, 'u', unsigned(c), 4);
  } else if (c < 0x80) {
    out->push_back(char(c));
  } else {
    AppendUtf8(out, c);
  }
}

std::string ShowUtf8(const std::string& bytes, bool escapeBackslash) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    if (length == 0) {
      AppendEscape(&out, 'x', static_cast<unsigned char>(bytes[i]), 2);
      ++i;
      continue;
    }
    AppendShown(&out, c, escapeBackslash);
    i += length;
  }
  return out;
}

std::string ShowWide(const std::wstring& text, bool escapeBackslash) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = WideCharAt(text, &i);
    if (c >= 0xD800 && c <= 0xDFFF) {
      AppendEscape(&out, 'u', unsigned(c), 4);
    } else if (c > 0x10FFFF) {
      AppendUtf8(&out, 0xFFFD);
    } else {
      AppendShown(&out, c, escapeBackslash);
    }
  }
  return out;
}

}  // namespace

std::string ShowText(const std::string& utf8) {
  return ShowUtf8(utf8, true);
}

std::string ShowText(const std::wstring& text) {
  return ShowWide(text, true);
}

std::string ShowPath(const std::string& path) {
  return ShowUtf8(path, true);
}

std::string ShowPath(const std::wstring& path) {
  return ShowWide(path, false);
}
