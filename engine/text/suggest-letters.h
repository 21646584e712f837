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

CharClass Classify(wchar_t c);
bool IsUpper(wchar_t c);
bool IsLower(wchar_t c);
