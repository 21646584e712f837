// Code-page suggestion: decodes the pooled high-byte text through every
// supported page and scores how plausible each result is for the languages
// written in that page.
#include "engine/suggest.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <map>
#include <memory>

#include "engine/codepage.h"
#include "engine/suggest-letters.h"

namespace {

// What the languages of one page write: its script and, for pages of the
// Latin script, the accented letters those languages use (lower case).
struct Profile {
  unsigned codePage;
  Script script;
  const wchar_t* common;      // frequent letters beyond ASCII
  const wchar_t* occasional;  // letters some of the page's languages use
  const wchar_t* alone;       // accented letters that stand alone as a word
};

const Profile kProfiles[] = {
    {1252, Script::kLatin, L"éèàêçôâîûùëïüöäßñáíóúåøæãõ", L"ìòœÿ", L"à"},
    {1251, Script::kCyrillic, nullptr, nullptr, nullptr},
    {1250, Script::kLatin, L"ąęłśźżćńóčřšžěůáéíýúőűđťďňľĺăşţâî", L"äöüôŕçë", nullptr},
    {1253, Script::kGreek, nullptr, nullptr, nullptr},
    {1254, Script::kLatin, L"ğışçöüâ", L"îûéè", nullptr},
    {1257, Script::kLatin, L"ąčęėįšųūžāēīķļņģõ", L"äöüó", L"į"},
    {1255, Script::kHebrew, nullptr, nullptr, nullptr},
    {1256, Script::kArabic, nullptr, L"àâçèéêëîïôùûü", nullptr},
    {1258, Script::kLatin, L"ăâđêôơư", L"àáèéìíòóùúýãõ", nullptr},
    {874, Script::kThai, nullptr, nullptr, nullptr},
    {932, Script::kKana, nullptr, nullptr, nullptr},
    {936, Script::kHan, nullptr, nullptr, nullptr},
    {949, Script::kHangul, nullptr, nullptr, nullptr},
    {950, Script::kHan, nullptr, nullptr, nullptr},
};

bool IsDoubleBytePage(unsigned codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// How likely a letter of `script` is in text of the page, from -1 to 1.
double LetterWeight(const Profile& page, Script script, wchar_t c) {
  if (page.script == Script::kLatin) {
    if (script != Script::kLatin)
      return -1;
    const wchar_t lower = ToLower(c);
    if (Contains(page.common, lower))
      return 1;
    return Contains(page.occasional, lower) ? 0.5 : 0.1;
  }
  switch (page.script) {
    case Script::kKana:  // Japanese: kana and kanji; half-width kana are rare
      if (script == Script::kKana)
        return InRange(c, 0xFF66, 0xFF9F) ? 0.2 : 1;
      return script == Script::kHan ? 1 : -1;
    case Script::kHan:
      if (script == Script::kHan)
        return 1;
      return script == Script::kKana ? 0.2 : -1;
    case Script::kHangul:  // Korean: Hangul, with some Hanja
      if (script == Script::kHangul)
        return 1;
      return script == Script::kHan ? 0.3 : -1;
    default:
      if (script == page.script)
        return 1;
      return script == Script::kLatin && Contains(page.occasional, ToLower(c)) ? 0.3 : -1;
  }
}

bool IsVowel(wchar_t c) {
  return c != 0 && std::wcschr(L"aeiouyAEIOUY", c) != nullptr;
}

// Rules of spelling that set a page's languages apart from look-alikes.
double SpellingPenalty(const Profile& page, const std::wstring& word, size_t i) {
  const wchar_t c = word[i];
  const wchar_t before = i > 0 ? word[i - 1] : 0;
  const wchar_t after = i + 1 < word.size() ? word[i + 1] : 0;
  const bool last = i + 1 == word.size();
  switch (page.codePage) {
    case 1253:  // final sigma only ends a word, the other sigma never does
      if (c == 0x3C2 && !last)
        return 1.5;
      if (c == 0x3C3 && last && word.size() > 1)
        return 1;
      return 0;
    case 1255:  // vowel points follow a letter and are rare in titles
      if (InRange(c, 0x5B0, 0x5C7))
        return i == 0 || !InRange(before, 0x5D0, 0x5EA) ? 2 : 0.8;
      return 0;
    case 1251:  // no word starts with a hard or soft sign or yery
      return i == 0 && Contains(L"ъыьЪЫЬ", c) ? 1 : 0;
    case 1250:  // Czech ů and ě follow consonants; Polish ń precedes none
      if ((c == 0x16F || c == 0x11B) && (i == 0 || IsVowel(before)))
        return 1;
      if ((c == 0x144 || c == 0x143) && IsVowel(after))
        return 1;
      return 0;
    default:
      return 0;
  }
}

// How often each letter occurs in the language of an alphabet page, in
// percent, so that one alphabet read through another's page stands out.
struct LetterFrequencies {
  unsigned codePage;
  const wchar_t* letters;
  double percent[34];
};

const LetterFrequencies kFrequencies[] = {
    {1251,
     L"оеаинтсрвлкмдпуяыьгзбчйхжшюцщэфъё",
     {10.97, 8.45, 8.01, 7.35, 6.70, 6.26, 5.47, 4.73, 4.54, 4.40, 3.49,
      3.21,  2.98, 2.81, 2.62, 2.01, 1.90, 1.74, 1.70, 1.65, 1.59, 1.44,
      1.21,  0.97, 0.94, 0.73, 0.64, 0.48, 0.36, 0.32, 0.26, 0.04, 0.04}},
    {1253, L"αοιεστνηρκπυμλωγδθχφβξζψ", {12.0, 9.8, 8.8, 8.5, 7.7, 8.0, 6.8, 4.9,
                                         4.7,  4.2, 4.0, 4.0, 3.4, 2.7, 1.9, 1.8,
                                         1.7,  1.3, 1.2, 0.8, 0.7, 0.5, 0.4, 0.2}},
};

// Greek letters without their accents, final sigma as sigma.
wchar_t BaseLetter(wchar_t c) {
  static const wchar_t kAccented[] = L"άέήίόύώϊϋΐΰς";
  static const wchar_t kBase[] = L"αεηιουωιυιυσ";
  const wchar_t* at = std::wcschr(kAccented, c);
  return at && c ? kBase[at - kAccented] : c;
}

struct Tally {
  double sum = 0;
  std::map<wchar_t, double> letters;  // small letters of the page's script
};

// The cosine between the letters counted and the language's frequencies; 1
// where no frequencies are known.
double FrequencyMatch(unsigned codePage, const Tally& tally) {
  for (const LetterFrequencies& table : kFrequencies) {
    if (table.codePage != codePage)
      continue;
    double dot = 0, counted = 0, expected = 0;
    for (const auto& entry : tally.letters)
      counted += entry.second * entry.second;
    for (size_t i = 0; table.letters[i]; ++i) {
      const auto found = tally.letters.find(table.letters[i]);
      const double count = found == tally.letters.end() ? 0 : found->second;
      dot += count * table.percent[i];
      expected += table.percent[i] * table.percent[i];
    }
    return counted > 0 ? dot / std::sqrt(counted * expected) : 0;
  }
  return 1;
}

// Scores one word (no ASCII separators inside) decoded through `page`.
void ScoreWord(const Profile& page, const std::wstring& word, Tally* tally) {
  const bool doubleByte = IsDoubleBytePage(page.codePage);
  bool hasLatin = false;
  bool hasOther = false;
  size_t letters = 0;
  size_t accented = 0;
  for (wchar_t c : word) {
    const CharClass cls = Classify(c);
    if (cls.kind != Kind::kLetter)
      continue;
    ++letters;
    if (unsigned(c) >= 0x80)
      ++accented;
    if (cls.script == Script::kLatin)
      hasLatin = true;
    else
      hasOther = true;
  }
  const bool latinPage = page.script == Script::kLatin;
  // Latin-script words are mostly plain letters.
  const bool tooAccented = latinPage && letters >= 3 && accented * 10 > letters * 6;

  for (size_t i = 0; i < word.size(); ++i) {
    const wchar_t c = word[i];
    if (unsigned(c) < 0x80) {
      // A capital after a small letter inside a word, such as "żQué".
      if (i > 0 && IsUpper(c) && IsLower(word[i - 1]) && unsigned(word[i - 1]) >= 0x80)
        tally->sum -= 1;
      continue;
    }
    const CharClass cls = Classify(c);
    const bool edge = i == 0 || i + 1 == word.size();
    double weight = 0;
    switch (cls.kind) {
      case Kind::kBad:
        weight = -2;
        break;
      case Kind::kPunctuation:
        weight = edge ? 0.3 : -1;
        break;
      case Kind::kSymbol:
        weight = -0.7;
        break;
      case Kind::kMark:  // Vietnamese tone marks follow a letter
        weight =
            page.codePage == 1258 && i > 0 && Classify(word[i - 1]).kind == Kind::kLetter ? 1 : -1;
        break;
      case Kind::kLetter:
        weight = LetterWeight(page, cls.script, c);
        if (hasLatin && hasOther)
          weight = std::min(weight, -1.0);
        if (tooAccented)
          weight = std::min(weight, -0.5);
        if (latinPage && word.size() == 1 && !Contains(page.alone, ToLower(c)))
          weight = -1;
        if (i > 0 && IsUpper(c) && IsLower(word[i - 1]))
          weight -= 1;
        weight -= SpellingPenalty(page, word, i);
        if (cls.script == page.script)
          tally->letters[BaseLetter(ToLower(c))] += 1;
        break;
    }
    // A double-byte character stands for two stored bytes.
    const bool wide = doubleByte && unsigned(c) >= 0x100 && !InRange(c, 0xFF61, 0xFF9F);
    tally->sum += weight * (wide ? 2 : 1);
  }
}

void ScoreText(const Profile& page, const std::string& bytes, Tally* tally) {
  const std::wstring text = DecodeCodePage(page.codePage, bytes);
  // A '?' that the bytes do not hold is a byte the page cannot decode.
  const auto questions = [](auto begin, auto end) { return std::count(begin, end, '?'); };
  const long unknown =
      long(questions(text.begin(), text.end())) - long(questions(bytes.begin(), bytes.end()));
  if (unknown > 0)
    tally->sum -= 2.0 * double(unknown);
  std::wstring word;
  for (size_t i = 0; i <= text.size(); ++i) {
    const wchar_t c = i < text.size() ? text[i] : L' ';
    if (unsigned(c) >= 0x80 || IsAsciiWordChar(c)) {
      word.push_back(c);
      continue;
    }
    if (!word.empty())
      ScoreWord(page, word, tally);
    word.clear();
  }
}

double Clamp(double value) {
  return std::max(0.0, std::min(1.0, value));
}

// How much pooled text there is, 0 to 1: a page can only be sure on enough.
double Volume(size_t highBytes) {
  const double volume = Clamp(double(highBytes) / 150.0);
  return highBytes < kMinimumHighBytes ? volume * 0.5 : volume;
}

// The pooled text's score through one page, and up to three of its titles
// (any texts where there are none) as the page decodes them.
CodePageGuess GuessPage(const Profile& page, const SuggestionPool& pool) {
  const std::vector<std::string>& sampleSource = pool.titles.empty() ? pool.texts : pool.titles;
  Tally tally;
  for (const std::string& text : pool.texts)
    ScoreText(page, text, &tally);
  CodePageGuess guess;
  guess.codePage = page.codePage;
  const double plausible = pool.highByteCount ? Clamp(tally.sum / double(pool.highByteCount)) : 0;
  guess.score = plausible * (0.4 + 0.6 * FrequencyMatch(page.codePage, tally));
  for (const std::string& text : sampleSource) {
    if (guess.samples.size() == 3)
      break;
    const std::wstring decoded = DecodeCodePage(page.codePage, text);
    if (std::find(guess.samples.begin(), guess.samples.end(), decoded) == guess.samples.end())
      guess.samples.push_back(decoded);
  }
  return guess;
}

// The first page is as sure as its lead over the second, its own score and
// the amount of text allow; the others as close as they come to it.
void SetConfidences(size_t highBytes, std::vector<CodePageGuess>* ranking) {
  std::vector<CodePageGuess>& pages = *ranking;
  const double volume = Volume(highBytes);
  const double best = pages[0].score;
  const double second = pages.size() > 1 ? pages[1].score : 0;
  const double lead = Clamp((best - second) / 0.15);
  pages[0].confidence = volume * lead * Clamp(best / 0.6);
  for (size_t i = 1; i < pages.size(); ++i) {
    const double closeness = Clamp(1 - (best - pages[i].score) / 0.15);
    pages[i].confidence = volume * closeness * (1 - lead) * Clamp(pages[i].score / 0.6);
  }
}

}  // namespace
std::vector<CodePageGuess> RankCodePages(const SuggestionPool& pool) {
  std::vector<CodePageGuess> ranking;
  for (const Profile& page : kProfiles) {
    if (IsCodePageSupported(page.codePage))
      ranking.push_back(GuessPage(page, pool));
  }
  // Ties keep the order of the profiles, the most used pages first.
  std::stable_sort(
      ranking.begin(), ranking.end(),
      [](const CodePageGuess& a, const CodePageGuess& b) { return a.score > b.score; });
  if (!ranking.empty())
    SetConfidences(pool.highByteCount, &ranking);
  return ranking;
}

bool IsSure(const std::vector<CodePageGuess>& ranking) {
  return !ranking.empty() && ranking[0].confidence >= 0.5;
}

bool RanksClearlyBelow(const std::vector<CodePageGuess>& ranking, unsigned codePage) {
  if (!IsSure(ranking) || ranking[0].codePage == codePage)
    return false;
  for (const CodePageGuess& guess : ranking) {
    if (guess.codePage == codePage)
      return guess.score < ranking[0].score - 0.15;
  }
  return true;
}

const char* CodePageName(unsigned codePage) {
  switch (codePage) {
    case 874:
      return "Thai";
    case 932:
      return "Japanese";
    case 936:
      return "Simplified Chinese";
    case 949:
      return "Korean";
    case 950:
      return "Traditional Chinese";
    case 1250:
      return "Central European";
    case 1251:
      return "Cyrillic";
    case 1252:
      return "Western European";
    case 1253:
      return "Greek";
    case 1254:
      return "Turkish";
    case 1255:
      return "Hebrew";
    case 1256:
      return "Arabic";
    case 1257:
      return "Baltic";
    case 1258:
      return "Vietnamese";
    default:
      return "unknown";
  }
}
