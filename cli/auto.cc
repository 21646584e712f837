#include "cli/auto.h"

#include <cmath>

#include "cli/console.h"
#include "cli/suggest.h"

namespace {

std::string AlbumName(const PathString& folder, const PathString& base) {
  if (folder == base)
    return ".";
  if (folder.size() > base.size() && folder.compare(0, base.size(), base) == 0 &&
      folder[base.size()] == kPathSeparator)
    return PathForDisplay(folder.substr(base.size() + 1));
  return PathForDisplay(folder);
}

bool IsAbsolute(const PathString& folder) {
  if (!folder.empty() && (folder[0] == '/' || folder[0] == kPathSeparator))
    return true;
  // A drive letter: "C:\Music".
  return kPathSeparator == '\\' && folder.size() >= 2 && folder[1] == ':';
}

}  // namespace

bool SplitAlbumCodePage(const PathString& value, PathString* folder, std::string* page) {
  const std::size_t cut = value.rfind('=');
  if (cut == PathString::npos || cut == 0 || cut + 1 == value.size())
    return false;
  *folder = value.substr(0, cut);
  page->clear();
  for (std::size_t i = cut + 1; i < value.size(); ++i) {
    const unsigned c = static_cast<unsigned>(value[i]);
    page->push_back(c < 0x80 ? char(c) : '?');
  }
  return true;
}

PathString ResolveAlbumFolder(const PathString& base, const PathString& folder) {
  PathString resolved = folder;
  for (PathChar& c : resolved) {
    if (c == '/')
      c = kPathSeparator;
  }
  while (resolved.size() > 1 && resolved.back() == kPathSeparator)
    resolved.pop_back();
  if (resolved == PATH_TEXT("."))
    return base.empty() ? resolved : base;
  if (resolved.compare(0, 2, PATH_TEXT(".") + PathString(1, kPathSeparator)) == 0)
    resolved.erase(0, 2);
  if (IsAbsolute(resolved) || base.empty())
    return resolved;
  return base + kPathSeparator + resolved;
}

void ReportAlbumDecision(const AlbumDecision& decision, const PathString& base, bool preview) {
  const std::string name = AlbumName(decision.folder, base);
  const std::string sample =
      decision.sample.empty() ? std::string() : "\t\"" + WideToUtf8(decision.sample) + "\"";
  if (!preview) {
    if (decision.unsure) {
      WriteErr("songwright: left as it is, no code page reads it clearly better: " + name +
               " (best guess " + std::to_string(decision.bestCodePage) + ", confidence " +
               Decimal(decision.confidence) + "); name one with --album-codepage '" + name +
               "=PAGE'\n");
    }
    return;
  }
  std::string line = "album\t" + name + "\t";
  if (decision.overridden) {
    line += decision.codePage == kLeaveText
                ? "leave as it is (named with --album-codepage)"
                : "cp" + std::to_string(decision.codePage) + " (named with --album-codepage)";
  } else if (decision.codePage != kLeaveText) {
    line += "cp" + std::to_string(decision.codePage) + " (" + CodePageName(decision.codePage) +
            ", " + decision.language + "), confidence " + Decimal(decision.confidence);
  } else if (decision.highByteCount == 0) {
    line += "leave as it is: no text of a code page";
  } else if (decision.unsure) {
    line += "leave as it is: not sure (best guess cp" + std::to_string(decision.bestCodePage) +
            ", confidence " + Decimal(decision.confidence) + ")";
  } else {
    line += "leave as it is: reads as Western text (" + decision.language + "), confidence " +
            Decimal(decision.confidence);
  }
  WriteOut(line + sample + "\n");
}
