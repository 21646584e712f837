#include "cli/auto.h"

#include <cmath>

#include "cli/console.h"
#include "cli/json.h"
#include "cli/show.h"
#include "cli/suggest.h"
#include "engine/suggest.h"

namespace {

// The folder below `base`, "." for `base` itself, else as it is (always so
// in a run over several paths, which has no `base`).
PathString AlbumName(const PathString& folder, const PathString& base) {
  if (base.empty())
    return folder;
  if (folder == base)
    return PATH_TEXT(".");
  if (folder.size() > base.size() && folder.compare(0, base.size(), base) == 0 &&
      folder[base.size()] == kPathSeparator)
    return folder.substr(base.size() + 1);
  return folder;
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

namespace {

// The decision as a word: "repair" (through a page decided from the text),
// "named" (with --album-codepage), "unsure" (left, no page reads it clearly
// better) or "leave" (left: Western text, or no text of a code page).
const char* DecisionWord(const AlbumDecision& decision) {
  if (decision.overridden)
    return "named";
  if (decision.codePage != kLeaveText)
    return "repair";
  return decision.unsure && decision.highByteCount != 0 ? "unsure" : "leave";
}

std::string JsonAlbum(const AlbumDecision& decision, const PathString& name) {
  const std::string word = DecisionWord(decision);
  std::string line =
      "{\"type\":\"album\"," + JsonPath("folder", name) + ",\"decision\":" + JsonString(word) +
      ",\"codepage\":" +
      (decision.codePage == kLeaveText ? std::string("null") : std::to_string(decision.codePage));
  if (decision.codePage != kLeaveText)
    line += ",\"name\":" + JsonString(CodePageName(decision.codePage));
  if (word == "leave")
    line +=
        std::string(",\"reason\":") +
        (decision.highByteCount == 0 ? "\"no text of a code page\"" : "\"reads as Western text\"");
  if (word == "unsure")
    line += ",\"best_codepage\":" + std::to_string(decision.bestCodePage);
  if (decision.utf8TextCount != 0)
    line += ",\"utf8_texts\":" + std::to_string(decision.utf8TextCount);
  if (!decision.overridden && !decision.language.empty() && decision.highByteCount != 0)
    line += ",\"language\":" + JsonString(decision.language);
  line += ",\"confidence\":" + JsonDecimal(decision.confidence);
  if (!decision.sample.empty())
    line += ",\"sample\":" + JsonString(decision.sample);
  std::string tracks;
  for (unsigned page : decision.trackCodePages) {
    if (page != decision.codePage && !decision.overridden)
      tracks += (tracks.empty() ? "" : ",") + std::to_string(page);
  }
  if (!tracks.empty())
    line += ",\"track_codepages\":[" + tracks + "]";
  return line + "}\n";
}

// "cp1251, cp1250": the pages some of the album's tracks clearly need, when
// they are not all the album's own.
std::string TrackPages(const AlbumDecision& decision) {
  std::string pages;
  for (unsigned page : decision.trackCodePages) {
    if (page != decision.codePage)
      pages += (pages.empty() ? "cp" : ", cp") + std::to_string(page);
  }
  return decision.overridden ? std::string() : pages;
}

// An album left as it is still has its UTF-8 text (once or encoded twice)
// decoded, whatever the page.
std::string Utf8Note(const AlbumDecision& decision) {
  const bool left = decision.codePage == kLeaveText && !decision.overridden;
  return left && decision.utf8TextCount != 0 ? "; UTF-8 text decoded" : "";
}

}  // namespace

void ReportAlbumDecision(const AlbumDecision& decision, const PathString& base,
                         const AlbumReport& report) {
  const PathString name = AlbumName(decision.folder, base);
  const bool unsure = std::string(DecisionWord(decision)) == "unsure";
  if (report.json) {
    if (report.preview || !report.quiet || unsure)
      WriteOut(JsonAlbum(decision, name));
    return;
  }
  const std::string shown = ShowPath(name);
  const std::string sample =
      decision.sample.empty() ? std::string() : "\t\"" + ShowText(decision.sample) + "\"";
  const std::string tracks = TrackPages(decision);
  if (!report.preview) {
    if (decision.unsure) {
      WriteErr("songwright: left as it is, no code page reads it clearly better: " + shown +
               " (best guess " + std::to_string(decision.bestCodePage) + ", confidence " +
               Decimal(decision.confidence) + ")" +
               (tracks.empty() ? "" : "; tracks that clearly need a page get it (" + tracks + ")") +
               Utf8Note(decision) + "; name one with --album-codepage '" + shown + "=PAGE'\n");
    }
    return;
  }
  std::string line = "album\t" + shown + "\t";
  if (decision.overridden) {
    line += decision.codePage == kLeaveText
                ? "leave as it is (named with --album-codepage)"
                : "cp" + std::to_string(decision.codePage) + " (named with --album-codepage)";
  } else if (decision.codePage != kLeaveText) {
    line += "cp" + std::to_string(decision.codePage) + " (" + CodePageName(decision.codePage) +
            ", " + ShowText(decision.language) + "), confidence " + Decimal(decision.confidence);
  } else if (decision.highByteCount == 0) {
    line += "leave as it is: no text of a code page";
  } else if (decision.unsure) {
    line += "leave as it is: not sure (best guess cp" + std::to_string(decision.bestCodePage) +
            ", confidence " + Decimal(decision.confidence) + ")";
  } else {
    line += "leave as it is: reads as Western text (" + ShowText(decision.language) +
            "), confidence " + Decimal(decision.confidence);
  }
  if (!tracks.empty())
    line += "; tracks that clearly need their own page: " + tracks;
  WriteOut(line + Utf8Note(decision) + sample + "\n");
}
