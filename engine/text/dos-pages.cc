// The DOS pages: their siblings, their text priced through the siblings'
// languages, and the clear margin a playlist's text needs to be read
// through one (see engine/text/dos-pages.h).
#include "engine/text/album-utf8.h"
#include "engine/text/dos-pages.h"

#include <limits>

#include "engine/text/album.h"
#include "engine/text/codepage.h"
#include "engine/text/language-costs.h"
#include "engine/names/name-decide.h"
#include "engine/text/suggest-letters.h"
#include "engine/text/text-shape.h"

namespace {

// A byte each sibling leaves undefined: Windows decodes it as the control
// character of its value, which the languages price as undefined.
char UndefinedByte(unsigned sibling) {
  return sibling == 1251 ? '\x98' : '\x81';
}

bool IsLetter(wchar_t c) {
  return Classify(c).kind == Kind::kLetter;
}

// D3: the bytes at or above 0x80 that `page` reads as no letter between two
// letters ("D‚j…" for "Déjà" of 850 read through 1252).
std::size_t SymbolsInWords(unsigned page, const std::string& bytes) {
  const std::wstring text = DecodeCodePage(page, bytes);
  if (text.size() != bytes.size())
    return 0;
  std::size_t count = 0;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    count += static_cast<unsigned char>(bytes[i]) >= 0x80 && !IsLetter(text[i]) &&
             IsLetter(text[i - 1]) && IsLetter(text[i + 1]);
  }
  return count;
}

// What `texts` cost through `page` (kWesternText or 1252: as Western text).
double CostOf(unsigned page, const std::vector<const std::string*>& texts) {
  const unsigned decoded = page == kWesternText ? 1252 : page;
  double bits = 0;
  for (const std::string* text : texts) {
    bits += TextCostBits(page == 1252 ? kWesternText : page, *text) +
            kSymbolInWordBits * double(SymbolsInWords(decoded, *text));
  }
  return bits;
}

bool ReadAllCleanly(unsigned page, const std::vector<const std::string*>& texts) {
  for (const std::string* text : texts) {
    if (!ReadsCleanly(*text, DecodeCodePage(page, *text)))
      return false;
  }
  return true;
}

}  // namespace

const std::vector<unsigned>& DosPages() {
  static const std::vector<unsigned> pages = {866, 852, 850, 437};
  return pages;
}

bool IsDosPage(unsigned codePage) {
  return WindowsSibling(codePage) != 0;
}

unsigned WindowsSibling(unsigned dosPage) {
  switch (dosPage) {
    case 866:
      return 1251;
    case 852:
      return 1250;
    case 850:
    case 437:
      return 1252;
    default:
      return 0;
  }
}

std::string SiblingBytes(unsigned dosPage, const std::string& bytes) {
  const unsigned sibling = WindowsSibling(dosPage);
  const std::wstring text = DecodeCodePage(dosPage, bytes);
  std::string out;
  for (wchar_t c : text) {
    std::string byte;
    if (c < 0x80)
      out.push_back(char(c));
    else if (EncodeToPage(sibling, std::wstring(1, c), &byte))
      out += byte;
    else
      out.push_back(UndefinedByte(sibling));
  }
  return out;
}

unsigned DosPageOfText(const std::vector<std::string>& texts, unsigned decided) {
  std::vector<const std::string*> legacy;
  for (const std::string& text : texts) {
    if (!IsMultiByteUtf8(text))
      legacy.push_back(&text);
  }
  if (legacy.empty())
    return decided;
  unsigned best = 0;
  double bestBits = std::numeric_limits<double>::infinity();
  for (unsigned page : DosPages()) {
    if (!CanDecodeCodePage(page) || !ReadAllCleanly(page, legacy))
      continue;
    const double bits = CostOf(page, legacy);
    if (bits < bestBits) {
      best = page;
      bestBits = bits;
    }
  }
  if (best == 0)
    return decided;
  const unsigned sibling = WindowsSibling(best);
  const bool western = sibling == 1252;
  const double margin = western ? kDosWesternMarginBits : kDosMarginBits;
  const double westernMargin = western ? kDosWesternMarginBits : kAlbumMarginBits;
  const double westernBits = CostOf(kWesternText, legacy);
  const double decidedBits = decided == kLeaveText ? westernBits : CostOf(decided, legacy);
  const bool clear = bestBits + margin <= decidedBits &&
                     bestBits + margin <= CostOf(sibling, legacy) &&
                     bestBits + westernMargin <= westernBits;
  return clear ? best : decided;
}
