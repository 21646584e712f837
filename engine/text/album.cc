// Album code-page decisions: the text of one folder, read through every
// supported page, is scored by the learned letter-pair costs of that page's
// languages; Western languages stand for "leave it as it is".
#include "engine/text/album-utf8.h"
#include "engine/text/album.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "engine/text/codepage.h"
#include "engine/text/language-costs.h"
#include "engine/text/suggest-letters.h"
#include "engine/text/text-shape.h"

namespace {

// Below this lead the album reads as plausible Western text; between it and
// the decision margin it is in doubt.
constexpr double kWesternLeadBits = 8;
// ... and this many bits better than the next page, unless both read it the
// same: two pages that read the album about as well leave it in doubt.
constexpr double kRunnerUpMarginBits = 8;
// A page whose share of all readings is below this is no decision: the
// album's text is too short for the margins alone to say (three letters).
constexpr double kLeastConfidence = 0.5;
// The models are sure of themselves; their bits are tempered by this much
// before they are turned into a confidence.
constexpr double kTemperature = 8;

std::size_t CountHighBytes(const std::string& bytes) {
  return std::size_t(std::count_if(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
}

// What the album's text costs, in 1/8 bit: per language, and per page as the
// sum over the texts of the page's most plausible language for each text
// (an album may mix languages: a German title, a French artist). Western
// languages are summed under kLeaveText.
struct Costs {
  std::vector<double> languages = std::vector<double>(LanguageModelCount(), 0.0);
  std::map<unsigned, double> pages;
};

void AddText(Costs* costs, const std::string& bytes) {
  std::map<unsigned, unsigned> best;
  for (std::size_t m = 0; m < LanguageModelCount(); ++m) {
    const unsigned cost = LanguageCost(m, bytes);
    costs->languages[m] += cost;
    const unsigned key = LanguageModel(m).codePage;
    auto it = best.find(key);
    if (it == best.end() || cost < it->second)
      best[key] = cost;
  }
  for (const auto& [key, cost] : best)
    costs->pages[key] += cost;
}

struct PageReading {
  unsigned codePage = 0;
  const char* language = "";  // the language that reads the whole album best
  double bits = std::numeric_limits<double>::infinity();
};

// The script a page's languages are written in, as real Unicode text of the
// album shows it: letters beyond Latin-1 for the Latin pages.
Script PageScript(unsigned codePage) {
  switch (codePage) {
    case 1251:
      return Script::kCyrillic;
    case 1253:
      return Script::kGreek;
    case 1255:
      return Script::kHebrew;
    case 1256:
      return Script::kArabic;
    case 874:
      return Script::kThai;
    case 949:
      return Script::kHangul;
    case 932:
      return Script::kKana;
    case 936:
    case 950:
      return Script::kHan;
    default:
      return Script::kLatin;
  }
}

// Real Unicode text of the album in a page's script makes that page more
// plausible, by a bit a letter up to this many.
constexpr double kMostEvidenceBits = 12;

double EvidenceBits(const SuggestionPool& pool, unsigned codePage) {
  const std::size_t script = std::size_t(PageScript(codePage));
  std::size_t letters = script < pool.scriptLetters.size() ? pool.scriptLetters[script] : 0;
  if (codePage == 932)  // Japanese is written with Chinese characters too
    letters += pool.scriptLetters[std::size_t(Script::kHan)];
  return std::min(kMostEvidenceBits, double(letters));
}

// Every supported page, most plausible first, and the Western reading.
std::vector<PageReading> BestReadings(const Costs& costs, const SuggestionPool& pool,
                                      PageReading* western) {
  std::vector<PageReading> pages;
  for (const auto& [key, eighths] : costs.pages) {
    if (key == kLeaveText)
      western->bits = eighths / 8;
    else if (IsCodePageSupported(key))
      pages.push_back({key, "", eighths / 8 - EvidenceBits(pool, key)});
  }
  std::map<unsigned, double> bestLanguage;
  for (std::size_t m = 0; m < LanguageModelCount(); ++m) {
    const LanguageModelInfo model = LanguageModel(m);
    auto it = bestLanguage.find(model.codePage);
    if (it != bestLanguage.end() && it->second <= costs.languages[m])
      continue;
    bestLanguage[model.codePage] = costs.languages[m];
    if (model.codePage == kLeaveText)
      western->language = model.language;
    for (PageReading& page : pages) {
      if (page.codePage == model.codePage)
        page.language = model.language;
    }
  }
  std::sort(pages.begin(), pages.end(),
            [](const PageReading& a, const PageReading& b) { return a.bits < b.bits; });
  return pages;
}

// The share of `pages[chosen]` among all readings once their bits are
// tempered. Pages that give the album's text the very text `chosen` gives
// (cp1250 and cp1258 both read "ă") are one reading, not rivals: only the
// first of each group counts, and `chosen` stands for its own.
double Confidence(const std::vector<PageReading>& pages, const std::vector<std::size_t>& group,
                  const PageReading& western, std::size_t chosen, double chosenBits) {
  double sum = std::exp2(-(western.bits - chosenBits) / kTemperature);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const bool stands = group[i] == group[chosen] ? i == chosen : group[i] == i;
    if (stands)
      sum += std::exp2(-(pages[i].bits - chosenBits) / kTemperature);
  }
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

// For each page, the index of the first page (most plausible first) that
// reads the album's text exactly as it does; its own index when none does.
std::vector<std::size_t> ReadingGroups(const SuggestionPool& pool,
                                       const std::vector<PageReading>& pages) {
  std::vector<std::size_t> group(pages.size());
  for (std::size_t i = 0; i < pages.size(); ++i) {
    group[i] = i;
    for (std::size_t j = 0; j < i; ++j) {
      if (group[j] == j && ReadTheSame(pool, pages[j].codePage, pages[i].codePage)) {
        group[i] = j;
        break;
      }
    }
  }
  return group;
}

// The first of `texts` that is not UTF-8; null when there is none.
const std::string* FirstLegacyText(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    if (!IsMultiByteUtf8(text))
      return &text;
  }
  return nullptr;
}


// A double-byte page that reads every text whole, pair by pair, is a rival
// a single-byte reading all in capitals must beat by this much: the case of
// its letters tells nothing then, and the double-byte model prices a
// character it did not keep coarsely ("廖世美" read as "БОКАГА").
constexpr double kDoubleByteRivalBits = 16;

// True when every letter `codePage` reads from a byte at or above 0x80 of
// the album's text is a capital.
bool CapitalsOnly(const SuggestionPool& pool, unsigned codePage) {
  bool capital = false;
  for (const std::string& text : pool.texts) {
    if (IsMultiByteUtf8(text))
      continue;
    const std::wstring read = DecodeCodePage(codePage, text);
    if (read.size() != text.size())
      return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (static_cast<unsigned char>(text[i]) < 0x80)
        continue;
      if (IsLower(read[i]))
        return false;
      capital = capital || IsUpper(read[i]);
    }
  }
  return capital;
}

bool ReadsWhole(const SuggestionPool& pool, unsigned codePage) {
  for (const std::string& text : pool.texts) {
    if (!IsMultiByteUtf8(text) && !ReadsCleanly(text, DecodeCodePage(codePage, text)))
      return false;
  }
  return true;
}

bool ClearOfDoubleByte(const SuggestionPool& pool, const std::vector<PageReading>& pages) {
  if (IsDoubleByte(pages.front().codePage) || !CapitalsOnly(pool, pages.front().codePage))
    return true;
  for (std::size_t i = 1; i < pages.size(); ++i) {
    if (pages[i].bits - pages.front().bits >= kDoubleByteRivalBits)
      break;
    if (IsDoubleByte(pages[i].codePage) && ReadsWhole(pool, pages[i].codePage))
      return false;
  }
  return true;
}

}  // namespace

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
  decision.utf8TextCount = pool.utf8Texts;
  if (decision.highByteCount == 0) {
    decision.readsWestern = true;
    decision.confidence = 1;
    return decision;
  }

  PageReading western;
  const std::vector<PageReading> pages = BestReadings(costs, pool, &western);
  const PageReading& best = pages.front();
  decision.westernBits = western.bits;
  const std::vector<std::size_t> group = ReadingGroups(pool, pages);
  for (std::size_t i = 0; i < pages.size(); ++i)
    decision.candidates.push_back({pages[i].codePage, pages[i].language, pages[i].bits,
                                   Confidence(pages, group, western, i, pages[i].bits)});
  decision.bestCodePage = best.codePage;
  decision.language = best.language;
  decision.marginBits = western.bits - best.bits;
  // The most plausible page that reads the album otherwise than `best`.
  const auto rival = std::find_if(group.begin(), group.end(), [](std::size_t g) { return g != 0; });
  const bool clearOfRunnerUp =
      rival == group.end() || pages[std::size_t(rival - group.begin())].bits - best.bits >=
                                  kRunnerUpMarginBits;
  const bool clearOfDoubleByte = ClearOfDoubleByte(pool, pages);
  const double confidence = decision.candidates.front().confidence;
  const double margin =
      SwapsLettersOnly(pool, best.codePage) ? kLetterSwapMarginBits : kAlbumMarginBits;
  if (decision.marginBits >= margin && clearOfRunnerUp && clearOfDoubleByte &&
      confidence >= kLeastConfidence) {
    decision.codePage = best.codePage;
    decision.confidence = confidence;
  } else if (decision.marginBits < kWesternLeadBits) {
    decision.readsWestern = true;
    decision.language = western.language;
    decision.confidence = Confidence(pages, group, western, 0, western.bits);
  } else {
    decision.unsure = true;
    decision.confidence = confidence;
  }
  if (sample) {
    decision.sample = decision.codePage == kLeaveText ? Latin1ForDisplay(*sample)
                                                      : DecodeCodePage(decision.codePage, *sample);
  }
  return decision;
}

unsigned OwnTrackPage(const SuggestionPool& track) {
  if (track.texts.empty())
    return kLeaveText;
  const AlbumDecision own = DecideAlbum(track);
  const double margin = own.codePage != kLeaveText && SwapsLettersOnly(track, own.codePage)
                            ? kTrackLetterSwapMarginBits
                            : kDecisionMarginBits;
  return own.marginBits >= margin ? own.codePage : kLeaveText;
}

bool SwapsLettersOnly(const SuggestionPool& pool, unsigned page) {
  std::size_t texts = 0;
  for (const std::string& text : pool.texts) {
    if (IsMultiByteUtf8(text) || CountHighBytes(text) == 0)
      continue;
    if (!SwapsLatinLetters(text, DecodeCodePage(page, text)))
      return false;
    ++texts;
  }
  return texts >= 2;
}
