// The tag text a code page is decided on (engine/text/album.h), pooled from the
// files of an album or, for `--suggest`, of a whole library: every text
// holding bytes at or above 0x80, and the letters of real Unicode text.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

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
  // Script (engine/text/suggest-letters.h): evidence of the album's language.
  std::vector<std::size_t> scriptLetters = std::vector<std::size_t>(16, 0);
  // Texts that are UTF-8 of real text: read as UTF-8 whatever the page.
  std::size_t utf8Texts = 0;
  // Texts holding U+FFFD, which an earlier program put where it could not
  // read a byte: real Unicode whose original bytes are lost.
  std::size_t replacementTexts = 0;
};

// Adds one text; texts without a byte at or above 0x80 are ignored.
void AddSampleText(SuggestionPool* pool, const std::string& latin1Bytes, bool isTitle);

// Adds the text of `from` to `into`.
void MergePool(SuggestionPool* into, const SuggestionPool& from);

// Counts the letters of real Unicode text (characters beyond U+00FF).
void AddEvidenceText(SuggestionPool* pool, const std::wstring& text);
