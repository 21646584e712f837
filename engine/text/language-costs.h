// Letter-pair models of the languages each supported code page is written
// in, learned from word lists (tools/make-language-model.py), and the cost
// of text under them.
#pragma once

#include <cstddef>
#include <string>

// The page that stands for the Western languages: text that reads best as
// one of them is left as it is.
constexpr unsigned kWesternText = 0;

struct LanguageModelInfo {
  const char* language;  // "ru", "pl", "de", ...
  unsigned codePage;     // kWesternText for the Western languages
};

std::size_t LanguageModelCount();
LanguageModelInfo LanguageModel(std::size_t index);

// The cost in 1/8 bit of `bytes` read through the model's page as its
// language: every word's letter pairs, ASCII words also as foreign words;
// Hebrew read in either order (text stored visually, last letter first).
unsigned LanguageCost(std::size_t index, const std::string& bytes);

// The cost in bits of `bytes` read through `codePage` as the most plausible
// of its languages (kWesternText: as the most plausible Western language; a
// DOS page: as its Windows sibling's, engine/text/dos-pages.h D2).
double TextCostBits(unsigned codePage, const std::string& bytes);
