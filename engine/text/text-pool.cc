// Pooling tag text for the code-page decision.
#include "engine/text/text-pool.h"

#include <algorithm>

#include "engine/text/suggest-letters.h"

namespace {

size_t CountHighBytes(const std::string& bytes) {
  return size_t(std::count_if(bytes.begin(), bytes.end(),
                              [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
}

}  // namespace

void AddSampleText(SuggestionPool* pool, const std::string& latin1Bytes, bool isTitle) {
  const size_t high = CountHighBytes(latin1Bytes);
  if (high == 0)
    return;
  ++pool->offered;
  if (pool->distinctTexts && !pool->distinct.insert(latin1Bytes).second)
    return;
  pool->texts.push_back(latin1Bytes);
  if (isTitle)
    pool->titles.push_back(latin1Bytes);
  pool->byteCount += latin1Bytes.size();
  pool->highByteCount += high;
}

void MergePool(SuggestionPool* into, const SuggestionPool& from) {
  for (const std::string& text : from.texts) {
    const bool title = std::find(from.titles.begin(), from.titles.end(), text) != from.titles.end();
    AddSampleText(into, text, title);
  }
  into->fileCount += from.fileCount;
  into->utf8Texts += from.utf8Texts;
  into->replacementTexts += from.replacementTexts;
  for (std::size_t i = 0; i < into->scriptLetters.size() && i < from.scriptLetters.size(); ++i)
    into->scriptLetters[i] += from.scriptLetters[i];
}

void AddEvidenceText(SuggestionPool* pool, const std::wstring& text) {
  for (wchar_t c : text) {
    if (unsigned(c) < 0x100)
      continue;
    const CharClass kind = Classify(c);
    const std::size_t script = std::size_t(kind.script);
    if (kind.kind == Kind::kLetter && script < pool->scriptLetters.size())
      ++pool->scriptLetters[script];
  }
}
