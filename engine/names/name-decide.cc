// Names of files and folders: their shapes, the page a folder's legacy names
// read through, and the repaired name.
#include "engine/text/album-utf8.h"
#include "engine/names/name-decide.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>

#include "engine/text/album.h"
#include "engine/text/codepage.h"
#include "engine/text/dos-pages.h"
#include "engine/text/language-costs.h"
#include "engine/text/text-shape.h"
#include "engine/platform/text.h"

namespace {

// A name as UTF-8 or the bytes POSIX stores, and back: the overload of the
// platform's PathString is the one used.
[[maybe_unused]] std::string NameBytesOf(const std::string& name) {
  return name;
}
[[maybe_unused]] std::string NameBytesOf(const std::wstring& name) {
  return WideToUtf8(name);
}
[[maybe_unused]] void NameFromUtf8(const std::string& utf8, std::string* name) {
  *name = utf8;
}
[[maybe_unused]] void NameFromUtf8(const std::string& utf8, std::wstring* name) {
  *name = DecodeUtf8(utf8);
}

// Pages a layer of UTF-8 encoded twice is taken off through, besides the
// Windows-1252/Latin-1 reading ShapeOf takes off itself.
constexpr unsigned kLayerPages[] = {1251, 1250, 1253, 1254, 1257, 866, 437};
// Per legacy name: what a page decided for the tags is worth, and how much
// better an OEM page must read than every Windows page.
constexpr double kEvidenceBits = 6;
constexpr double kOemMarginBits = 4;

// True when every character of `text` past ASCII is a letter of the
// alphabets the pages write (Latin, Greek, Cyrillic, Hebrew, Arabic) or the
// punctuation titles hold; `letters` counts them.
bool InLetterBlocks(const std::wstring& text, std::size_t* letters) {
  for (wchar_t c : text) {
    if (c < 0x80)
      continue;
    ++*letters;
    const bool letter = (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) ||
                        (c >= 0x370 && c <= 0x3FF) || (c >= 0x400 && c <= 0x45F) ||
                        (c >= 0x5D0 && c <= 0x5EA) || (c >= 0x620 && c <= 0x64A);
    const bool punctuation = c == 0xA0 || c == 0xAB || c == 0xBB || (c >= 0x2013 && c <= 0x201E) ||
                             c == 0x2026 || c == 0x2116;
    if (!letter && !punctuation)
      return false;
  }
  return true;
}

// The cost per byte of `text` in the most plausible language of a Windows
// page that can write it; infinite when none can.
double CostPerByte(const std::wstring& text) {
  double best = std::numeric_limits<double>::infinity();
  for (unsigned page : {1251u, 1250u, 1253u, 1252u, 1254u, 1257u}) {
    std::string bytes;
    if (EncodeToPage(page, text, &bytes) && !bytes.empty())
      best = std::min(best, TextCostBits(page == 1252 ? kWesternText : page, bytes) / bytes.size());
  }
  return best;
}

// True when `inner`, what taking a layer off `outer` gives, is the name
// rather than `outer`: letters only, and reading better than `outer` does
// (a right name that happens to be whole UTF-8 in some page, "сад" in 866,
// gives a character of another script, or reads worse).
bool LayerPlausible(const std::wstring& outer, const std::wstring& inner) {
  std::size_t letters = 0;
  if (!InLetterBlocks(inner, &letters) || letters == 0)
    return false;
  const double innerCost = CostPerByte(inner);
  if (innerCost == std::numeric_limits<double>::infinity())
    return letters >= 2;
  return innerCost < CostPerByte(outer);
}

// Takes every layer of UTF-8 encoded twice off `text`; true when one came
// off. `legacy` is set when what is left is legacy bytes under the layers.
bool TakeOffLayers(std::wstring* text, std::string* legacy) {
  bool layered = false;
  for (int layer = 0; layer < 4; ++layer) {
    const TextShape shape = ShapeOf(*text);
    if (shape.kind == ShapeKind::kUtf8 && shape.bytes != WideToUtf8(*text)) {
      *text = DecodeUtf8(shape.bytes);
      layered = true;
      continue;
    }
    if (shape.kind == ShapeKind::kBytes && shape.utf8Layers > 0) {
      *legacy = shape.bytes;
      return true;
    }
    if (shape.kind != ShapeKind::kUnicode)
      return layered;
    bool found = false;
    for (unsigned page : kLayerPages) {
      std::string bytes;
      if (!EncodeToPage(page, *text, &bytes) || !IsMultiByteUtf8(bytes, true))
        continue;
      const std::wstring inner = DecodeUtf8(bytes);
      if (ShapeOf(inner).kind != ShapeKind::kUtf8 && !LayerPlausible(*text, inner))
        continue;
      *text = inner;
      found = layered = true;
      break;
    }
    if (!found)
      return layered;
  }
  return layered;
}

// The cost of `names` read through `page`; infinite when one of them does
// not read cleanly.
double PageCost(unsigned page, const std::vector<std::string>& names) {
  double total = 0;
  for (const std::string& bytes : names) {
    // A DOS page scores as the same text in its Windows sibling (D2).
    unsigned scored = page;
    std::string scoredBytes = bytes;
    if (const unsigned sibling = WindowsSibling(page)) {
      if (!EncodeToPage(sibling, DecodeCodePage(page, bytes), &scoredBytes))
        return std::numeric_limits<double>::infinity();
      scored = sibling;
    }
    const std::wstring text = DecodeCodePage(page, bytes);
    if (!ReadsCleanly(bytes, text))
      return std::numeric_limits<double>::infinity();
    total += TextCostBits(scored == 1252 ? kWesternText : scored, scoredBytes);
  }
  return total;
}

}  // namespace

bool EncodeToPage(unsigned codePage, const std::wstring& text, std::string* bytes) {
  // One table per page and thread, filled at its first use.
  thread_local std::map<unsigned, std::map<wchar_t, char>> tables;
  auto [at, added] = tables.try_emplace(codePage);
  std::map<wchar_t, char>* table = &at->second;
  for (int b = 0; added && b < 256; ++b) {
    const std::wstring c = DecodeCodePage(codePage, std::string(1, char(b)));
    if (c.size() == 1)
      table->emplace(c[0], char(b));
  }
  bytes->clear();
  for (wchar_t c : text) {
    const auto it = table->find(c);
    if (it == table->end())
      return false;
    bytes->push_back(it->second);
  }
  return true;
}

std::string NameUtf8(const PathString& name) {
  return NameBytesOf(name);
}

bool WidenedBytes(const std::wstring& text, std::string* bytes) {
  bytes->clear();
  bool high = false;
  for (wchar_t c : text) {
    std::string byte;
    if (c >= 0x80 && c <= 0xFF && !EncodeToPage(1252, std::wstring(1, c), &byte))
      byte.assign(1, char(c));  // Latin-1 where Windows-1252 has no character
    else if (!EncodeToPage(1252, std::wstring(1, c), &byte))
      return false;
    high = high || static_cast<unsigned char>(byte[0]) >= 0x80;
    *bytes += byte;
  }
  return high;
}

NameShape ShapeOfWideName(const std::wstring& wide) {
  NameShape shape;
  shape.bytes = WideToUtf8(wide);
  std::wstring text = wide;
  std::string legacy;
  if (TakeOffLayers(&text, &legacy)) {
    shape.layered = true;
    shape.legacy = !legacy.empty();
    shape.bytes = shape.legacy ? legacy : WideToUtf8(text);
  } else if (WidenedBytes(wide, &legacy)) {
    shape.legacy = shape.widened = true;
    shape.bytes = legacy;
  }
  return shape;
}

NameShape ShapeOfName(const PathString& name) {
  NameShape shape;
  bool widened = false;
  if (LegacyNameBytes(name, &shape.bytes, &widened) && !widened) {
    shape.legacy = true;
    return shape;
  }
  if (widened)
    return ShapeOfWideName(DecodeUtf8(NameBytesOf(name)));
  shape.bytes = NameBytesOf(name);
  std::wstring text = DecodeUtf8(shape.bytes);
  std::string legacy;
  if (!TakeOffLayers(&text, &legacy))
    return shape;
  shape.layered = true;
  shape.legacy = !legacy.empty();
  shape.bytes = shape.legacy ? legacy : WideToUtf8(text);
  return shape;
}

unsigned DecideNamePage(const std::vector<std::string>& legacyNames,
                        const std::vector<unsigned>& evidence) {
  if (legacyNames.empty())
    return 0;
  std::vector<unsigned> pages;
  for (std::size_t m = 0; m < LanguageModelCount(); ++m) {
    const unsigned page = LanguageModel(m).codePage;
    pages.push_back(page == kWesternText ? 1252 : page);
  }
  pages.insert(pages.end(), evidence.begin(), evidence.end());
  pages.insert(pages.end(), DosPages().begin(), DosPages().end());
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  const double count = double(legacyNames.size());
  double best = std::numeric_limits<double>::infinity(), bestWindows = best, bestOem = best;
  unsigned bestPage = 0, bestOemPage = 0;
  for (unsigned page : pages) {
    if (!CanDecodeCodePage(page))
      continue;
    double cost = PageCost(page, legacyNames);
    // The page with most weight counts twice. An OEM page is evidence only
    // where names below were read through it (no tag page decides one).
    if (std::find(evidence.begin(), evidence.end(), page) != evidence.end())
      cost -= kEvidenceBits * count * (page == evidence.front() ? 2 : 1);
    if (IsDosPage(page)) {
      if (cost < bestOem) {
        bestOem = cost;
        bestOemPage = page;
      }
      continue;
    }
    if (cost < bestWindows) {
      bestWindows = cost;
      bestPage = page;
    }
  }
  best = bestWindows;
  if (bestOemPage && bestOem + kOemMarginBits * count < best)
    bestPage = bestOemPage;
  return bestPage;
}

unsigned NamePageWithin(const std::string& name, unsigned folderPage,
                        const std::vector<unsigned>& evidence) {
  const unsigned own = DecideNamePage({name}, {});
  if (own == 0 || own == folderPage ||
      std::find(evidence.begin(), evidence.end(), own) == evidence.end())
    return folderPage;
  if (folderPage == 0)
    return own;
  // The tags' page counts for the name as it does in DecideNamePage.
  const double margin = PageCost(folderPage, {name}) - PageCost(own, {name});
  return margin >= 2 * kEvidenceBits ? own : folderPage;
}

// N5: how much better `page` must read widened names than Western text:
// the tag decision's margin, or where the tags decided the page, better at
// all (a right Western name reads as well through a page of its letters, and
// any slack would let one change: "Déjà vu" is "Déjŕ vu" in 1250).
bool ReadsBetterThanWestern(const std::vector<std::string>& widenedNames, unsigned page,
                            const std::vector<unsigned>& evidence) {
  if (page == 0 || page == 1252)
    return false;
  const double western = PageCost(1252, widenedNames), through = PageCost(page, widenedNames);
  const bool evidenced = std::find(evidence.begin(), evidence.end(), page) != evidence.end();
  if (evidenced)
    return through < western;
  return western - through >= kDecisionMarginBits;
}

unsigned DecideWidenedPage(const std::vector<std::string>& widenedNames,
                           const std::vector<unsigned>& evidence) {
  const unsigned page = DecideNamePage(widenedNames, evidence);
  return ReadsBetterThanWestern(widenedNames, page, evidence) ? page : 0;
}

bool WidenedNameReadsThrough(const std::string& name, unsigned page) {
  // The folder's page passed the margin; each name only reads better.
  return page != 0 && page != 1252 && PageCost(page, {name}) < PageCost(1252, {name});
}

bool RepairedName(const NameShape& shape, unsigned page, PathString* repaired) {
  std::wstring text;
  if (shape.legacy) {
    if (page == 0)
      return false;
    text = DecodeCodePage(page, shape.bytes);
    if (!ReadsCleanly(shape.bytes, text))
      return false;
  } else if (shape.layered) {
    text = DecodeUtf8(shape.bytes);
  } else {
    return false;
  }
  if (text.empty())
    return false;
  for (wchar_t c : text) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == L'/' || c == 0xFFFD)
      return false;
    if (c == L'\\' && shape.bytes.find('\\') == std::string::npos)
      return false;
  }
  NameFromUtf8(WideToUtf8(text), repaired);
  return true;
}
