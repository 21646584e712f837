// The shapes wrong text takes in a tag, and the bytes beneath each: what a
// writer that read code-page bytes as Latin-1 (or as Windows-1252) stored,
// whatever encoding the frame declares.
//
// A place's text is first taken back to bytes when every character of it can
// be one byte: a character up to U+00FF is that byte, one of the characters
// Windows-1252 gives to 0x80-0x9F is that byte, and U+FF80-U+FFFF is the low
// byte of a byte sign-extended by an old writer. Bytes that are whole UTF-8
// are then decoded, and taken back to bytes again while the decoded text can
// be, so that text encoded twice (or three times) comes back to the bytes the
// first writer had. What is left is one of:
//   - ASCII: nothing to read;
//   - Unicode: text holding any other character, right as it stands and
//     evidence of the album's language;
//   - UTF-8: the bytes are UTF-8 of real Unicode text, which they read as
//     whatever the album's page;
//   - bytes: code-page bytes, read through the page the album decides; as
//     Western text they read as they are stored.
#pragma once

#include <string>

enum class ShapeKind { kAscii, kUnicode, kUtf8, kBytes };

struct TextShape {
  ShapeKind kind = ShapeKind::kAscii;
  // kUtf8: the UTF-8 bytes; kBytes: the code-page bytes.
  std::string bytes;
  // UTF-8 encodings taken off to reach `bytes`; 0 for bytes as stored.
  int utf8Layers = 0;
};

// The bytes a text holds when every character can be one byte; false when
// one cannot.
bool CollapseToBytes(const std::wstring& text, std::string* bytes);

// The shape of a place's text as the frame stores it.
TextShape ShapeOf(const std::wstring& stored);

// Western text as Windows-1252 reads `bytes`; the five bytes it leaves
// undefined read as the Latin-1 control characters.
std::wstring DecodeWestern(const std::string& bytes);

// True when `text`, read from `bytes` through a page, holds no character
// that stands for a byte the page leaves undefined: no C1 control, no
// replacement or default character.
bool ReadsCleanly(const std::string& bytes, const std::wstring& text);

// True when `bytes` hold a byte at or above 0x80 and each such byte is a
// Latin letter both as Western text and as `text`, read from `bytes` through
// a single-byte page, has it: the reading only swaps Latin letters ("ï" for
// "ď", "ç" for "ē"), which right Western text, Vietnamese and UTF-8 of
// Latin letters show as often as wrong text does.
bool SwapsLatinLetters(const std::string& bytes, const std::wstring& text);

// The pages of two bytes to a character (932, 936, 949, 950).
bool IsDoubleByte(unsigned codePage);
