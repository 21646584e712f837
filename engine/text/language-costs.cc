// The learned letter-pair costs of every language, applied to text read
// through each language's code page: the lower the cost, the more plausible
// the reading.
#include "engine/text/language-costs.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <map>
#include <string>

#include "engine/text/codepage.h"
#include "engine/text/dos-pages.h"
#include "engine/text/suggest-letters.h"

namespace {

struct SingleByteModel {
  const char* name;
  unsigned codePage;
  bool western;
  unsigned size;               // rows and columns of `costs`
  const unsigned char* map;    // byte value -> symbol
  const unsigned char* costs;  // cost of each pair, 1/8 bit
};

struct DoubleByteEntry {
  unsigned short code;  // lead byte << 8 | trail byte
  unsigned char cost;
};

struct DoubleByteModel {
  const char* name;
  unsigned codePage;
  const unsigned char* lead;  // 0 ASCII, 1 a character alone, 2 lead byte, 3 undefined
  const DoubleByteEntry* entries;
  std::size_t entryCount;
  // Any other character of the page: of its standard's first level, of its
  // second, or of the vendors' extensions (DoubleByteTier).
  unsigned restCosts[3];
};

#include "engine/text/language-model.inc"

// The tier of a double-byte character outside the model's kept characters:
// 0 of its standard's first level (with kana, Hangul and punctuation), 1 of
// its second level, 2 a vendor's extension. The same ranges as
// tools/make-language-model.py.
unsigned DoubleByteTier(unsigned codePage, unsigned code) {
  const unsigned lead = code >> 8, trail = code & 0xFF;
  const auto rows = [&](unsigned lowLead, unsigned highLead, unsigned lowTrail,
                        unsigned highTrail) {
    return lead >= lowLead && lead <= highLead && trail >= lowTrail && trail <= highTrail;
  };
  const auto run = [&](unsigned low, unsigned high) { return code >= low && code <= high; };
  switch (codePage) {
    case 936:
      if (rows(0xA1, 0xA9, 0xA1, 0xFE) || rows(0xB0, 0xD7, 0xA1, 0xFE))
        return 0;
      return rows(0xD8, 0xF7, 0xA1, 0xFE) ? 1 : 2;
    case 949:
      if (rows(0xA1, 0xAC, 0xA1, 0xFE) || rows(0xB0, 0xC8, 0xA1, 0xFE))
        return 0;
      return rows(0xCA, 0xFD, 0xA1, 0xFE) ? 1 : 2;
    case 950:
      if (run(0xA140, 0xA3BF) || run(0xA440, 0xC67E))
        return 0;
      return run(0xC940, 0xF9D5) ? 1 : 2;
    case 932:
      if (run(0x8140, 0x84BE) || run(0x889F, 0x9872))
        return 0;
      return run(0x989F, 0xEAA4) ? 1 : 2;
    default:
      return 2;
  }
}

// Symbols of the byte maps; letters follow from kLetterBase.
constexpr unsigned char kSeparator = 0, kPunctuation = 1, kSymbol = 2, kUndefined = 3,
                        kOtherLetter = 4, kLetterBase = 5;
// Costs in 1/8 bit of what the word lists cannot teach: punctuation and
// symbols beyond ASCII, and bytes the page does not define.
constexpr unsigned kPunctuationCost = 6 * 8, kSymbolCost = 12 * 8, kUndefinedCost = 24 * 8;

// An ASCII word in the text of any language may be a foreign word; it costs
// then what English gives it and this much for the switch.
constexpr unsigned kForeignWordCost = 3 * 8;

// The cost of one word under `model`: every pair, its edges included.
// Symbols and undefined bytes stand inside words as letters of their own.
unsigned WordCost(const SingleByteModel& model, const unsigned char* word, std::size_t length) {
  unsigned total = 0;
  unsigned previous = 0;  // the word edge
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char symbol = model.map[word[i]];
    unsigned index = 1;
    if (symbol >= kLetterBase)
      index = symbol - kLetterBase + 2;
    else if (symbol == kSymbol)
      total += kSymbolCost;
    else if (symbol == kUndefined)
      total += kUndefinedCost;
    total += model.costs[previous * model.size + index];
    previous = index;
  }
  return total + model.costs[previous * model.size];
}

const SingleByteModel& English() {
  for (const SingleByteModel& model : kSingleByteModels) {
    if (std::string(model.name) == "en")
      return model;
  }
  return kSingleByteModels[0];
}

unsigned ForeignWordCost(const unsigned char* word, std::size_t length) {
  return WordCost(English(), word, length) + kForeignWordCost;
}

bool IsAsciiLetter(unsigned char b) {
  return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}

bool IsAsciiWordByte(unsigned char b) {
  return IsAsciiLetter(b) || b == '\'';
}

// A word of a language not written in Latin letters that holds Latin letters
// too is read as runs of either script: the Latin runs as foreign words,
// each switch of script costing this much.
constexpr unsigned kScriptSwitchCost = 16 * 8;

// By its page: the Latin words a Cyrillic or Greek model met in its
// training text are foreign words all the same.
bool WritesLatinLetters(const SingleByteModel& model) {
  switch (model.codePage) {
    case 1251:
    case 1253:
    case 1255:
    case 1256:
    case 874:
      return false;
    default:
      return model.map[static_cast<unsigned char>('a')] >= kLetterBase;
  }
}

unsigned MixedScriptWordCost(const SingleByteModel& model, const unsigned char* word,
                             std::size_t length) {
  unsigned total = 0;
  std::size_t start = 0;
  while (start < length) {
    const bool latin = IsAsciiLetter(word[start]);
    std::size_t end = start + 1;
    while (end < length && IsAsciiLetter(word[end]) == latin)
      ++end;
    if (start > 0)
      total += kScriptSwitchCost;
    total += latin ? ForeignWordCost(word + start, end - start)
                   : WordCost(model, word + start, end - start);
    start = end;
  }
  return total;
}

// The case of each byte of a single-byte page: 1 a capital, -1 a small
// letter, 0 anything else; built once for every page.
const signed char* CaseTable(unsigned codePage) {
  static const std::map<unsigned, std::array<signed char, 256>> tables = [] {
    std::map<unsigned, std::array<signed char, 256>> built;
    for (const SingleByteModel& model : kSingleByteModels) {
      std::array<signed char, 256>& table = built[model.codePage];
      for (int b = 0; b < 256; ++b) {
        const std::wstring c = DecodeCodePage(model.codePage, std::string(1, char(b)));
        table[std::size_t(b)] = c.size() != 1 ? 0 : IsUpper(c[0]) ? 1 : IsLower(c[0]) ? -1 : 0;
      }
    }
    return built;
  }();
  return tables.at(codePage).data();
}

// The letter pairs know no case, but words do: a capital after a small
// letter, or a small letter after two capitals, is rare in any language
// and common in double-byte text read through a single-byte page.
constexpr unsigned kCaseSwitchCost = 8 * 8;

unsigned CaseCost(unsigned codePage, const unsigned char* word, std::size_t length) {
  const signed char* cases = CaseTable(codePage);
  unsigned switches = 0, capitals = 0;
  bool small = false;
  for (std::size_t i = 0; i < length; ++i) {
    const signed char c = cases[word[i]];
    if (c > 0) {
      switches += small;
      ++capitals;
    } else if (c < 0) {
      switches += capitals >= 2;
      small = true;
      capitals = 0;
    }
  }
  return switches * kCaseSwitchCost;
}

// The whole text counts: its words tell the language apart even where they
// are plain ASCII, which every page reads the same.
unsigned SingleByteCost(const SingleByteModel& model, const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  unsigned total = 0;
  std::size_t i = 0;
  while (i < n) {
    const unsigned char symbol = model.map[bytes[i]];
    // Punctuation and symbols stand between words ("3008×2008"), each
    // costing what it costs, not as letters of a word.
    if (symbol == kSeparator || symbol == kPunctuation || symbol == kSymbol) {
      total += symbol == kPunctuation ? kPunctuationCost : symbol == kSymbol ? kSymbolCost : 0;
      ++i;
      continue;
    }
    std::size_t end = i;
    bool ascii = true;
    while (end < n && model.map[bytes[end]] != kSeparator &&
           model.map[bytes[end]] != kPunctuation && model.map[bytes[end]] != kSymbol) {
      ascii = ascii && bytes[end] < 0x80;
      ++end;
    }
    // An ASCII word is a foreign word to a language not written in Latin
    // letters: what that language's few Latin words taught it is no reason
    // to price it below what a Latin language pays for it.
    if (ascii) {
      const unsigned foreign = ForeignWordCost(bytes + i, end - i);
      total += WritesLatinLetters(model) ? std::min(WordCost(model, bytes + i, end - i), foreign)
                                         : foreign;
    } else {
      total += (WritesLatinLetters(model) ? WordCost(model, bytes + i, end - i)
                                          : MixedScriptWordCost(model, bytes + i, end - i)) +
               CaseCost(model.codePage, bytes + i, end - i);
    }
    i = end;
  }
  return total;
}

// Characters cost what their frequency says; Latin words inside the text
// cost as foreign words, and a Latin letter right beside a double-byte
// character as much as a rare character.
unsigned DoubleByteCost(const DoubleByteModel& model, const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  unsigned total = 0;
  bool previousWide = false, previousHanja = false;
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = bytes[i];
    const unsigned kind = model.lead[b];
    if (kind == 0) {
      if (!IsAsciiWordByte(b)) {
        previousWide = false;
        ++i;
        continue;
      }
      std::size_t end = i;
      while (end < n && IsAsciiWordByte(bytes[end]))
        ++end;
      total += ForeignWordCost(bytes + i, end - i);
      if (previousWide || (end < n && model.lead[bytes[end]] >= 2))
        total += model.restCosts[1];
      previousWide = false;
      i = end;
      continue;
    }
    if (kind == 1) {
      total += model.restCosts[1];
      previousWide = false;
      ++i;
      continue;
    }
    const unsigned char trail = i + 1 < n ? bytes[i + 1] : 0;
    if (kind == 3 || trail < 0x40 || trail == 0x7F || trail == 0xFF) {
      total += kUndefinedCost;
      previousWide = false;
      ++i;
      continue;
    }
    const unsigned code = unsigned(b) << 8 | trail;
    // Korean is written in Hangul, with Chinese characters as whole words
    // at most: a switch between them inside a run is Chinese read as Korean.
    if (model.codePage == 949) {
      const bool hanja = b >= 0xCA && b <= 0xFD && trail >= 0xA1;
      if (previousWide && hanja != previousHanja)
        total += kScriptSwitchCost;
      previousHanja = hanja;
    }
    const DoubleByteEntry* end = model.entries + model.entryCount;
    const DoubleByteEntry* found = std::lower_bound(
        model.entries, end, code,
        [](const DoubleByteEntry& entry, unsigned value) { return entry.code < value; });
    total += found != end && found->code == code ? found->cost
                                                 : model.restCosts[DoubleByteTier(model.codePage, code)];
    previousWide = true;
    i += 2;
  }
  return total;
}

}  // namespace

std::size_t LanguageModelCount() {
  return std::size(kSingleByteModels) + std::size(kDoubleByteModels);
}

LanguageModelInfo LanguageModel(std::size_t index) {
  if (index < std::size(kSingleByteModels)) {
    const SingleByteModel& model = kSingleByteModels[index];
    return {model.name, model.western ? kWesternText : model.codePage};
  }
  const DoubleByteModel& model = kDoubleByteModels[index - std::size(kSingleByteModels)];
  return {model.name, model.codePage};
}

unsigned LanguageCost(std::size_t index, const std::string& bytes) {
  if (index < std::size(kSingleByteModels)) {
    const SingleByteModel& model = kSingleByteModels[index];
    const unsigned cost = SingleByteCost(model, bytes);
    // Hebrew is often stored in visual order, last letter first: the text
    // reads as Hebrew either way round.
    if (model.codePage != 1255)
      return cost;
    return std::min(cost, SingleByteCost(model, std::string(bytes.rbegin(), bytes.rend())));
  }
  return DoubleByteCost(kDoubleByteModels[index - std::size(kSingleByteModels)], bytes);
}

double TextCostBits(unsigned codePage, const std::string& bytes) {
  // D2: a DOS page reads as its text in its Windows sibling's bytes.
  if (const unsigned sibling = WindowsSibling(codePage))
    return TextCostBits(sibling == 1252 ? kWesternText : sibling, SiblingBytes(codePage, bytes));
  double best = std::numeric_limits<double>::infinity();
  for (std::size_t m = 0; m < LanguageModelCount(); ++m) {
    if (LanguageModel(m).codePage == codePage)
      best = std::min(best, LanguageCost(m, bytes) / 8.0);
  }
  return best;
}
