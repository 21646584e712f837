// `--suggest`: ranks the code pages a library's tag text may be written in.
#pragma once

#include <string>
#include <vector>

#include "engine/platform.h"

// Finds the files of `paths` as a repair does (folders walked, files taken as
// they are), reads them read-only and prints the ranking, samples and, when
// sure, the page to use. Writes no file; returns 0.
int RunSuggestion(const std::vector<PathString>& paths, unsigned localeCodePage);

// The one-line hint for a run on `files` with the locale's default page, or
// empty when that page does not rank clearly below another.
std::string CodePageHint(const std::vector<PathString>& files, unsigned localeCodePage);

// "0.93": two decimals, whatever the locale's decimal point.
std::string Decimal(double value);
