// `--suggest`: ranks the code pages a library's tag text may be written in,
// as the automatic mode's album decision reads the library's text pooled.
#pragma once

#include <string>
#include <vector>

#include "engine/text/album.h"
#include "engine/platform/platform.h"

// One reading of the pooled text: through a code page, or as Western text
// (shown as 1252, the text left as it is).
struct RankedPage {
  unsigned codePage = 0;
  std::string language;  // the language that reads it best, when known
  double bits = 0;       // the cost of the text read so
  // 1 for the reading that costs the fewest bits; halves with every four bits
  // more per byte at or above 0x80.
  double score = 0;
  double confidence = 0;              // its share of all readings, 0 to 1
  std::vector<std::wstring> samples;  // up to three titles decoded by the page
};

struct PageRanking {
  AlbumDecision decision;         // what a run takes for the text as one album
  std::vector<RankedPage> pages;  // most plausible first; empty without text to judge
};

// Decides as a run decides an album, over all of `pool`'s text, and ranks
// the readings the decision weighed.
PageRanking RankPages(const SuggestionPool& pool);

// Finds the files of `paths` as a repair does (folders walked for every
// format, files taken as they are), reads them read-only and prints the
// ranking, samples and the conclusion the decision reaches, with what the
// automatic mode (a run without -c) does instead. With `json` each page and
// the conclusion are objects. Writes no file; returns 0.
int RunSuggestion(const std::vector<PathString>& paths, bool json = false);

// "0.93": two decimals, whatever the locale's decimal point.
std::string Decimal(double value);
