// `--suggest`: ranks the code pages a library's tag text may be written in.
#pragma once

#include <string>
#include <vector>

#include "engine/platform.h"

// Finds the files of `paths` as a repair does (folders walked, files taken as
// they are), reads them read-only and prints the ranking, samples and, when
// sure, the page to use, with what the automatic mode (a run without -c)
// does instead. With `json` each page and the conclusion are objects. Writes
// no file; returns 0.
int RunSuggestion(const std::vector<PathString>& paths, bool json = false);

// "0.93": two decimals, whatever the locale's decimal point.
std::string Decimal(double value);
