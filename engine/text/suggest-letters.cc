// Character classes and case of decoded text, for the code-page suggestion.
#include "engine/text/suggest-letters.h"

CharClass Classify(wchar_t c) {
  const unsigned u = unsigned(c);
  if (IsAsciiLetter(c))
    return {Kind::kLetter, Script::kLatin};
  if (InRange(c, 0x80, 0x9F) || InRange(c, 0xE000, 0xF8FF) || u == 0xFFFD)
    return {Kind::kBad, Script::kNone};
  if (u == 0xA1 || u == 0xAB || u == 0xB7 || u == 0xBB || u == 0xBF || InRange(c, 0x2010, 0x2026) ||
      u == 0x30FB || InRange(c, 0x3000, 0x3003) || InRange(c, 0x3008, 0x3011))
    return {Kind::kPunctuation, Script::kNone};
  if ((InRange(c, 0xC0, 0x24F) && u != 0xD7 && u != 0xF7) || InRange(c, 0x1E00, 0x1EFF))
    return {Kind::kLetter, Script::kLatin};
  if (InRange(c, 0x300, 0x36F))
    return {Kind::kMark, Script::kNone};
  if (InRange(c, 0x386, 0x3FF) && u != 0x387)
    return {Kind::kLetter, Script::kGreek};
  if (InRange(c, 0x400, 0x4FF))
    return {Kind::kLetter, Script::kCyrillic};
  if (InRange(c, 0x5B0, 0x5F2))
    return {Kind::kLetter, Script::kHebrew};
  if ((InRange(c, 0x620, 0x6FF) && u != 0x640) || InRange(c, 0xFB50, 0xFDFF) ||
      InRange(c, 0xFE70, 0xFEFF))
    return {Kind::kLetter, Script::kArabic};
  if (InRange(c, 0xE01, 0xE4E))
    return {Kind::kLetter, Script::kThai};
  if (InRange(c, 0x4E00, 0x9FFF) || InRange(c, 0x3400, 0x4DBF) || InRange(c, 0xF900, 0xFAFF))
    return {Kind::kLetter, Script::kHan};
  if (InRange(c, 0x3041, 0x30FF) || InRange(c, 0xFF66, 0xFF9F))
    return {Kind::kLetter, Script::kKana};
  if (InRange(c, 0xAC00, 0xD7A3) || InRange(c, 0x3131, 0x318E))
    return {Kind::kLetter, Script::kHangul};
  return {Kind::kSymbol, Script::kNone};
}

bool IsUpper(wchar_t c) {
  const unsigned u = unsigned(c);
  if (c >= L'A' && c <= L'Z')
    return true;
  if (InRange(c, 0xC0, 0xDE))
    return u != 0xD7;
  if (InRange(c, 0x100, 0x137) || InRange(c, 0x14A, 0x177))
    return u % 2 == 0;
  if (InRange(c, 0x139, 0x148) || InRange(c, 0x179, 0x17E))
    return u % 2 == 1;
  return u == 0x178 || InRange(c, 0x386, 0x38F) || InRange(c, 0x391, 0x3AB) ||
         InRange(c, 0x400, 0x42F);
}

bool IsLower(wchar_t c) {
  const CharClass cls = Classify(c);
  return cls.kind == Kind::kLetter &&
         (cls.script == Script::kLatin || cls.script == Script::kGreek ||
          cls.script == Script::kCyrillic) &&
         !IsUpper(c) && unsigned(c) != 0xDF;
}
