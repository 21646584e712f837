// What the code-page suggestion knows of a character it decoded: whether it
// is a letter, mark, punctuation or symbol, which script a letter belongs
// to, and its case for the Latin, Greek and Cyrillic alphabets.
#pragma once

#include <cwchar>

enum class Script {
  kNone,
  kLatin,
  kGreek,
  kCyrillic,
  kHebrew,
  kArabic,
  kThai,
  kHan,
  kKana,
  kHangul
};

enum class Kind { kBad, kPunctuation, kSymbol, kMark, kLetter };

struct CharClass {
  Kind kind = Kind::kSymbol;
  Script script = Script::kNone;
};

inline bool InRange(wchar_t c, unsigned low, unsigned high) {
  return unsigned(c) >= low && unsigned(c) <= high;
}

inline bool IsAsciiLetter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// A character that belongs inside an ASCII word: letter, digit, apostrophe.
inline bool IsAsciiWordChar(wchar_t c) {
  return IsAsciiLetter(c) || (c >= L'0' && c <= L'9') || c == L'\'';
}

// True when `c` is one of the characters of `set`; a null set holds none.
inline bool Contains(const wchar_t* set, wchar_t c) {
  return set && std::wcschr(set, c) != nullptr && c != 0;
}

CharClass Classify(wchar_t c);
bool IsUpper(wchar_t c);
bool IsLower(wchar_t c);
// The small letter of a capital of the Latin, Greek or Cyrillic alphabets;
// any other character as it is.
wchar_t ToLower(wchar_t c);
