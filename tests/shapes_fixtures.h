// Text in each shape a writer leaves it, for the tests of automatic mode:
// code-page bytes made from wide text, and those bytes stored as Latin-1,
// widened to UTF-16, sign-extended or encoded as UTF-8 once too often.
#pragma once

#include <cstddef>
#include <string>

namespace shapes {

// The bytes of a literal, NULs included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// `text` in a single-byte code page; characters the page lacks become '?'.
std::string Encode(unsigned codePage, const std::wstring& text);
// Bytes as a Latin-1 frame shows them: one character per byte.
std::wstring Latin1(const std::string& bytes);
// Bytes read as Windows-1252 reads them, as a UTF-16 frame then holds them.
std::wstring Widened1252(const std::string& bytes);
// Bytes widened by an old writer that took them as signed: 0xCF is U+FFCF.
std::wstring SignExtended(const std::string& bytes);
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);

}  // namespace shapes
