// Album code-page decisions: the text of one folder, read through every
// supported page, is scored by the learned letter-pair costs of that page's
// languages; Western languages stand for "leave it as it is".
#include "engine/album.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "engine/codepage.h"

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
  unsigned restCost;  // any other character of the page
};

#include "engine/language-model.inc"

// Symbols of the byte maps; letters follow from kLetterBase.
constexpr unsigned char kSeparator = 0, kPunctuation = 1, kSymbol = 2, kUndefined = 3,
                        kOtherLetter = 4, kLetterBase = 5;
// Costs in 1/8 bit of what the word lists cannot teach: punctuation and
// symbols beyond ASCII, and bytes the page does not define.
constexpr unsigned kPunctuationCost = 6 * 8, kSymbolCost = 12 * 8, kUndefinedCost = 24 * 8;

// A page is taken only when it reads the album this many bits better than
// the most plausible Western reading.
constexpr double kDecisionMarginBits = 24;
// Below this lead the album reads as plausible Western text; between it and
// the decision margin it is in doubt.
constexpr double kWesternLeadBits = 8;
// ... and this many bits better than the next page, unless both read it the
// same: two pages that read the album about as well leave it in doubt.
constexpr double kRunnerUpMarginBits = 8;
// The models are sure of themselves; their bits are tempered by this much
// before they are turned into a confidence.
constexpr double kTemperature = 8;

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
constexpr unsigned kScriptSwitchCost = 12 * 8;

bool WritesLatinLetters(const SingleByteModel& model) {
  return model.map[static_cast<unsigned char>('a')] >= kLetterBase;
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

// The whole text counts: its words tell the language apart even where they
// are plain ASCII, which every page reads the same.
unsigned SingleByteCost(const SingleByteModel& model, const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  unsigned total = 0;
  std::size_t i = 0;
  while (i < n) {
    const unsigned char symbol = model.map[bytes[i]];
    if (symbol == kSeparator || symbol == kPunctuation) {
      if (symbol == kPunctuation)
        total += kPunctuationCost;
      ++i;
      continue;
    }
    std::size_t end = i;
    bool ascii = true;
    while (end < n && model.map[bytes[end]] != kSeparator &&
           model.map[bytes[end]] != kPunctuation) {
      ascii = ascii && bytes[end] < 0x80;
      ++end;
    }
    const unsigned own = WritesLatinLetters(model) || ascii
                             ? WordCost(model, bytes + i, end - i)
                             : MixedScriptWordCost(model, bytes + i, end - i);
    total += ascii ? std::min(own, ForeignWordCost(bytes + i, end - i)) : own;
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
  bool previousWide = false;
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
        total += model.restCost;
      previousWide = false;
      i = end;
      continue;
    }
    if (kind == 1) {
      total += model.restCost;
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
    const DoubleByteEntry* end = model.entries + model.entryCount;
    const DoubleByteEntry* found = std::lower_bound(
        model.entries, end, code,
        [](const DoubleByteEntry& entry, unsigned value) { return entry.code < value; });
    total += found != end && found->code == code ? found->cost : model.restCost;
    previousWide = true;
    i += 2;
  }
  return total;
}

std::size_t CountHighBytes(const std::string& bytes) {
  return std::size_t(std::count_if(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
}

// What the album's text costs, in 1/8 bit: per language, and per page as the
// sum over the texts of the page's most plausible language for each text
// (an album may mix languages: a German title, a French artist). Western
// languages are summed under kLeaveText.
struct Costs {
  std::vector<double> single = std::vector<double>(std::size(kSingleByteModels), 0.0);
  std::vector<double> dual = std::vector<double>(std::size(kDoubleByteModels), 0.0);
  std::map<unsigned, double> pages;
};

void AddText(Costs* costs, const std::string& bytes) {
  std::map<unsigned, unsigned> best;
  const auto keep = [&best](unsigned key, unsigned cost) {
    auto it = best.find(key);
    if (it == best.end() || cost < it->second)
      best[key] = cost;
  };
  for (std::size_t m = 0; m < std::size(kSingleByteModels); ++m) {
    const SingleByteModel& model = kSingleByteModels[m];
    const unsigned cost = SingleByteCost(model, bytes);
    costs->single[m] += cost;
    keep(model.western ? kLeaveText : model.codePage, cost);
  }
  for (std::size_t m = 0; m < std::size(kDoubleByteModels); ++m) {
    const unsigned cost = DoubleByteCost(kDoubleByteModels[m], bytes);
    costs->dual[m] += cost;
    keep(kDoubleByteModels[m].codePage, cost);
  }
  for (const auto& [key, cost] : best)
    costs->pages[key] += cost;
}

struct PageReading {
  unsigned codePage = 0;
  const char* language = "";  // the language that reads the whole album best
  double bits = std::numeric_limits<double>::infinity();
};

// Every supported page, most plausible first, and the Western reading.
std::vector<PageReading> BestReadings(const Costs& costs, PageReading* western) {
  std::vector<PageReading> pages;
  std::map<unsigned, double> bestLanguage;
  const auto name = [&](unsigned key, const char* language, double cost) {
    auto it = bestLanguage.find(key);
    if (it != bestLanguage.end() && it->second <= cost)
      return;
    bestLanguage[key] = cost;
    if (key == kLeaveText) {
      western->language = language;
      return;
    }
    for (PageReading& page : pages) {
      if (page.codePage == key)
        page.language = language;
    }
  };
  for (const auto& [key, eighths] : costs.pages) {
    if (key == kLeaveText) {
      western->bits = eighths / 8;
    } else if (IsCodePageSupported(key)) {
      pages.push_back({key, "", eighths / 8});
    }
  }
  for (std::size_t m = 0; m < std::size(kSingleByteModels); ++m) {
    const SingleByteModel& model = kSingleByteModels[m];
    name(model.western ? kLeaveText : model.codePage, model.name, costs.single[m]);
  }
  for (std::size_t m = 0; m < std::size(kDoubleByteModels); ++m)
    name(kDoubleByteModels[m].codePage, kDoubleByteModels[m].name, costs.dual[m]);
  std::sort(pages.begin(), pages.end(),
            [](const PageReading& a, const PageReading& b) { return a.bits < b.bits; });
  return pages;
}

// The share of `chosen` among all readings once their bits are tempered.
double Confidence(const std::vector<PageReading>& pages, const PageReading& western,
                  double chosenBits) {
  double sum = std::exp2(-(western.bits - chosenBits) / kTemperature);
  for (const PageReading& page : pages)
    sum += std::exp2(-(page.bits - chosenBits) / kTemperature);
  return sum > 0 ? 1 / sum : 0;
}

// The text as a Latin-1 frame shows it, controls replaced for display.
std::wstring Latin1ForDisplay(const std::string& bytes) {
  std::wstring text;
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    text.push_back(b < 0x20 || (b >= 0x7F && b < 0xA0) ? wchar_t(0xFFFD) : wchar_t(b));
  }
  return text;
}

bool ReadTheSame(const SuggestionPool& pool, unsigned first, unsigned second) {
  for (const std::string& text : pool.texts) {
    if (!IsMultiByteUtf8(text) && DecodeCodePage(first, text) != DecodeCodePage(second, text))
      return false;
  }
  return true;
}

// The first of `texts` that is not UTF-8; null when there is none.
const std::string* FirstLegacyText(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    if (!IsMultiByteUtf8(text))
      return &text;
  }
  return nullptr;
}

}  // namespace

double TextCostBits(unsigned codePage, const std::string& bytes) {
  double best = std::numeric_limits<double>::infinity();
  for (const SingleByteModel& model : kSingleByteModels) {
    if (model.codePage == codePage)
      best = std::min(best, SingleByteCost(model, bytes) / 8.0);
  }
  for (const DoubleByteModel& model : kDoubleByteModels) {
    if (model.codePage == codePage)
      best = std::min(best, DoubleByteCost(model, bytes) / 8.0);
  }
  return best;
}

AlbumDecision DecideAlbum(const SuggestionPool& pool) {
  AlbumDecision decision;
  Costs costs;
  for (const std::string& text : pool.texts) {
    if (decision.highByteCount >= kAlbumHighBytesEnough)
      break;
    if (IsMultiByteUtf8(text))
      continue;
    AddText(&costs, text);
    decision.highByteCount += CountHighBytes(text);
  }
  const std::string* sample = FirstLegacyText(pool.titles);
  if (!sample)
    sample = FirstLegacyText(pool.texts);
  if (decision.highByteCount == 0) {
    decision.readsWestern = true;
    decision.confidence = 1;
    return decision;
  }

  PageReading western;
  const std::vector<PageReading> pages = BestReadings(costs, &western);
  const PageReading& best = pages.front();
  decision.bestCodePage = best.codePage;
  decision.language = best.language;
  decision.marginBits = western.bits - best.bits;
  const bool clearOfRunnerUp = pages.size() < 2 ||
                               pages[1].bits - best.bits >= kRunnerUpMarginBits ||
                               ReadTheSame(pool, best.codePage, pages[1].codePage);
  if (decision.marginBits >= kDecisionMarginBits && clearOfRunnerUp) {
    decision.codePage = best.codePage;
    decision.confidence = Confidence(pages, western, best.bits);
  } else if (decision.marginBits < kWesternLeadBits) {
    decision.readsWestern = true;
    decision.language = western.language;
    decision.confidence = Confidence(pages, western, western.bits);
  } else {
    decision.unsure = true;
    decision.confidence = Confidence(pages, western, best.bits);
  }
  if (sample) {
    decision.sample = decision.codePage == kLeaveText ? Latin1ForDisplay(*sample)
                                                      : DecodeCodePage(decision.codePage, *sample);
  }
  return decision;
}
