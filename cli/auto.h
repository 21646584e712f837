// The automatic mode (`--codepage auto`, the default): the per-album overrides named on the command
// line and the lines that report each album's decision.
#pragma once

#include <string>
#include <vector>

#include "engine/text/album.h"
#include "engine/platform/platform.h"

// Splits "FOLDER=PAGE" at its last '=' (a page never holds one); false when
// either side is empty.
bool SplitAlbumCodePage(const PathString& value, PathString* folder, std::string* page);

// The folder as the scan will name it: relative folders are taken below
// `base` (the folder the run repairs), "." is `base` itself, '/' separates on
// every system and a final separator is dropped. With no `base` (a run over
// several paths) a relative folder stays as given, as the scan names it.
PathString ResolveAlbumFolder(const PathString& base, const PathString& folder);

struct AlbumReport {
  bool preview = false;
  bool json = false;
  bool quiet = false;
};

// In text, a preview prints every album's decision on stdout and a real run
// prints on stderr only the albums left as they are for want of a sure page.
// With --json every album's decision is an object on stdout (with -q in a
// real run only those left for want of a sure page).
void ReportAlbumDecision(const AlbumDecision& decision, const PathString& base,
                         const AlbumReport& report);
