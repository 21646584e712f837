// Guesses the code page a library's Latin-1 tag text was written in: pools
// the bytes at or above 0x80 of every such text and ranks each supported page
// by how plausible the pooled text reads when decoded through it.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/platform.h"

struct CodePageGuess {
  unsigned codePage = 0;
  double score = 0;                   // plausibility of the decoded text, 0 to 1
  double confidence = 0;              // 0 to 1; low for every page when little text is pooled
  std::vector<std::wstring> samples;  // up to three titles decoded by this page
};

// The text gathered so far: every text holding a byte at or above 0x80.
struct SuggestionPool {
  // An album's decision counts each text once: an artist or album name that
  // every file repeats weighs no more than one title.
  bool distinctTexts = false;
  std::unordered_set<std::string> distinct;  // the texts, to find repeats
  std::size_t offered = 0;                   // texts offered, repeats included
  std::vector<std::string> texts;            // raw bytes as stored
  std::vector<std::string> titles;           // the texts that are song titles
  std::size_t byteCount = 0;                 // bytes of all pooled texts
  std::size_t highByteCount = 0;             // bytes at or above 0x80
  std::size_t fileCount = 0;                 // files that added text
  // Letters of real Unicode text (beyond Latin-1) per script, indexed by
  // Script (engine/suggest-letters.h): evidence of the album's language.
  std::vector<std::size_t> scriptLetters = std::vector<std::size_t>(16, 0);
  // Texts that are UTF-8 of real text: read as UTF-8 whatever the page.
  std::size_t utf8Texts = 0;
};

// Below this many high bytes no page is called sure.
constexpr std::size_t kMinimumHighBytes = 40;

// Adds one text; texts without a byte at or above 0x80 are ignored.
void AddSampleText(SuggestionPool* pool, const std::string& latin1Bytes, bool isTitle);

// Adds the text of `from` to `into`.
void MergePool(SuggestionPool* into, const SuggestionPool& from);

// Counts the letters of real Unicode text (characters beyond U+00FF).
void AddEvidenceText(SuggestionPool* pool, const std::wstring& text);

// Reads the file read-only and adds the fields of its Latin-1 ID3v2 text
// frames and of its ID3v1 tag that hold bytes at or above 0x80. Never writes;
// a file that cannot be read adds nothing.
void CollectFromFile(const PathString& path, SuggestionPool* pool);

// Every supported page, most plausible first.
std::vector<CodePageGuess> RankCodePages(const SuggestionPool& pool);

// True when the first page is a clear winner on enough text.
bool IsSure(const std::vector<CodePageGuess>& ranking);

// True when the ranking is sure and `codePage` scores clearly below its
// first page, which is then the better page to use.
bool RanksClearlyBelow(const std::vector<CodePageGuess>& ranking, unsigned codePage);

// "Cyrillic", "Central European", ...
const char* CodePageName(unsigned codePage);
