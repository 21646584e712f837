// The code page of one album (the files of one folder), decided from its
// text for `--codepage auto`: letter-pair costs learned per language score
// the album's pooled Latin-1 text read through every page, and the album is
// repaired through a page only when that page reads it clearly better than
// Western text does.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/text/language-costs.h"  // TextCostBits
#include "engine/platform/path.h"            // FolderOf, which names an album's folder
#include "engine/platform/platform.h"
#include "engine/text/text-pool.h"

// The decision "leave the album's text as it is".
constexpr unsigned kLeaveText = kWesternText;
// A page is taken for an album only when it reads the album this many bits
// better than the most plausible Western reading.
constexpr double kAlbumMarginBits = 16;
// ... and this many when the page only swaps Latin letters of the stored
// text for others (engine/text/text-shape.h SwapsLatinLetters).
constexpr double kLetterSwapMarginBits = 24;
// A track's page other than its album's that only swaps them needs this many.
constexpr double kTrackLetterSwapMarginBits = 32;
// A track's page other than its album's, and a name's page, needs this many
// (names widened on Windows likewise).
constexpr double kDecisionMarginBits = 24;

// Text enough to decide any album: pooling stops there, so a folder of
// thousands of files holds no more in memory than this.
constexpr std::size_t kAlbumHighBytesEnough = 20000;

// One page the album's text was read through, for a front end to show.
struct PageCandidate {
  unsigned codePage = 0;
  std::string language;   // the page's language that reads the album best
  double bits = 0;        // the cost of the album's text through the page
  double confidence = 0;  // its share of all readings, 0 to 1
};

struct AlbumDecision {
  PathString folder;  // as the scan builds it, without a final separator
  unsigned codePage = kLeaveText;
  bool overridden = false;    // named by the user, not decided
  bool readsWestern = false;  // left because the text reads as Western text
  bool unsure = false;        // left because no page reads it clearly better
  unsigned bestCodePage = 0;  // the best page, even when the album is left
  std::string language;       // the best page's language: "ru", "pl", ...
  double confidence = 0;      // 0 to 1, of the decision taken
  double marginBits = 0;      // how much better the best page reads than Western text
  std::size_t highByteCount = 0;
  std::size_t utf8TextCount = 0;  // texts read as UTF-8 whatever the page
  std::wstring sample;            // a title as the decision would leave it
  // Pages that read some of the album's files clearly on their own: an
  // album of tracks in two pages gets each track its page.
  std::vector<unsigned> trackCodePages;
  // Every supported page, most plausible first, and the cost of the
  // album's text read as Western text; empty when no text was pooled.
  std::vector<PageCandidate> candidates;
  double westernBits = 0;
};

// A page named for the files of one folder.
struct AlbumCodePage {
  PathString folder;  // as the scan builds it
  unsigned codePage = kLeaveText;
  // Decided for the folder's tags by an earlier job of the run (its
  // playlists follow it), not named by the user.
  bool fromTags = false;
};

// Decides from the pooled text; texts that are UTF-8 do not count.
AlbumDecision DecideAlbum(const SuggestionPool& pool);

// The page one track's text alone decides by kDecisionMarginBits;
// kLeaveText when it decides none so clearly.
unsigned OwnTrackPage(const SuggestionPool& track);

// True when `page` reads every text of the pool that holds a byte at or
// above 0x80 (UTF-8 aside), two texts at least, by swapping Latin letters
// for Latin letters (engine/text/text-shape.h SwapsLatinLetters). One short
// title has too few bits to give for more than the usual margin.
bool SwapsLettersOnly(const SuggestionPool& pool, unsigned page);
