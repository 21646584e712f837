// `--suggest`: the scan thread finds the files, the main thread reads their
// tags read-only, decides over their text as a run decides an album and
// prints the readings the decision weighed.
#include "cli/suggest.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "cli/console.h"
#include "cli/json.h"
#include "cli/show.h"
#include "engine/text/album-utf8.h"
#include "engine/text/codepage.h"
#include "engine/engine.h"
#include "engine/suggest-collect.h"
#include "engine/suggest.h"
#include "engine/threads.h"

namespace {

struct ScanState {
  WorkerThread* thread = nullptr;
  std::vector<PathString> files;
};

bool HandleScan(void* context, const Notification& notification) {
  auto* scan = static_cast<ScanState*>(context);
  switch (notification.message) {
    case WM_SCAN_FILE_FOUND: {
      std::unique_ptr<PathString> path(reinterpret_cast<PathString*>(notification.payload));
      scan->files.push_back(std::move(*path));
      return true;
    }
    case WM_SCAN_COMPLETE:
      return false;
    case WM_FIX_SUCCEEDED:
    case WM_FIX_NOT_NEEDED:
    case WM_FIX_FAILED:
      delete reinterpret_cast<FileOutcome*>(notification.payload);
      return true;
    default:
      return true;
  }
}

std::string ConfidenceWord(double confidence) {
  if (confidence >= 0.75)
    return "high";
  return confidence >= 0.5 ? "medium" : "low";
}

std::string Padded(std::string text, size_t width) {
  if (text.size() < width)
    text.append(width - text.size(), ' ');
  return text;
}

std::string SampleLine(const RankedPage& page) {
  std::string line = "Samples decoded as " + std::to_string(page.codePage) + ":";
  for (size_t i = 0; i < page.samples.size(); ++i)
    line += std::string(i ? ", " : " ") + "\"" + ShowText(page.samples[i]) + "\"";
  return line + "\n";
}

// Western text left as it is reads as the page of the Western languages.
constexpr unsigned kWesternPage = 1252;
// A page's score halves with every this many bits it costs more than the
// best reading per byte at or above 0x80.
constexpr double kBitsPerHalving = 4;

bool IsLegacyText(const std::string& text) {
  return !IsMultiByteUtf8(text);
}

// Up to three titles (other texts when no title holds legacy text) as
// `codePage` decodes them; UTF-8 is read as UTF-8 whatever the page.
std::vector<std::wstring> Samples(const SuggestionPool& pool, unsigned codePage) {
  const std::vector<std::string>& source =
      std::any_of(pool.titles.begin(), pool.titles.end(), IsLegacyText) ? pool.titles : pool.texts;
  std::vector<std::wstring> samples;
  for (const std::string& text : source) {
    if (samples.size() == 3)
      break;
    if (!IsLegacyText(text))
      continue;
    const std::wstring decoded = DecodeCodePage(codePage, text);
    if (std::find(samples.begin(), samples.end(), decoded) == samples.end())
      samples.push_back(decoded);
  }
  return samples;
}

struct Conclusion {
  std::string summary, advice;
};

Conclusion Conclude(const AlbumDecision& decision) {
  const std::string run = "run without -c (the default, --codepage auto) ";
  if (decision.codePage != kLeaveText) {
    return {"Suggested: --codepage " + std::to_string(decision.codePage),
            "That page repairs every file through it; a " + run +
                "decides the page per album instead, for a library that mixes pages."};
  }
  if (decision.highByteCount == 0) {
    return {std::string("Nothing to suggest: no text of a code page to judge") +
                (decision.utf8TextCount ? " (text stored as UTF-8 is read as UTF-8)." : "."),
            "A " + run +
                (decision.utf8TextCount ? "decodes text stored as UTF-8 whatever the page and "
                                          "leaves the rest as it is."
                                        : "leaves text without bytes of a code page as it is.")};
  }
  if (decision.unsure) {
    return {"Not sure: no code page reads clearly better than the others (best guess " +
                std::to_string(decision.bestCodePage) + ", " +
                std::to_string(decision.highByteCount) + " bytes at or above 0x80).",
            "A " + run +
                "decides the page per album and leaves an album it is not sure of as it is; or "
                "name the page with --codepage."};
  }
  return {"No page suggested: the text reads as Western text (" + decision.language +
              ") and is left as it is.",
          "A " + run +
              "decides per album and leaves Western text as it is; name a page with "
              "--codepage only for text known to be written in it."};
}

SuggestionPool CollectFromFiles(const std::vector<PathString>& files) {
  SuggestionPool pool;
  // As an album's decision pools: a text every file repeats counts once.
  pool.distinctTexts = true;
  for (const PathString& file : files)
    CollectFromFile(file, &pool);
  return pool;
}

std::string JsonRanking(const SuggestionPool& pool, const PageRanking& ranking, std::size_t shown,
                        const Conclusion& conclusion) {
  std::string text;
  for (size_t i = 0; i < shown; ++i) {
    const RankedPage& page = ranking.pages[i];
    text += "{\"type\":\"codepage\",\"codepage\":" + std::to_string(page.codePage) +
            ",\"name\":" + JsonString(CodePageName(page.codePage));
    if (!page.language.empty())
      text += ",\"language\":" + JsonString(page.language);
    text += ",\"score\":" + JsonDecimal(page.score) +
            ",\"confidence\":" + JsonDecimal(page.confidence) + ",\"samples\":[";
    for (size_t k = 0; k < page.samples.size(); ++k)
      text += (k ? "," : "") + JsonString(page.samples[k]);
    text += "]}\n";
  }
  const unsigned suggested = ranking.decision.codePage;
  return text + "{\"type\":\"summary\",\"summary\":" + JsonString(conclusion.summary) +
         ",\"advice\":" + JsonString(conclusion.advice) +
         ",\"bytes\":" + std::to_string(pool.byteCount) +
         ",\"files\":" + std::to_string(pool.fileCount) +
         ",\"high_bytes\":" + std::to_string(pool.highByteCount) + ",\"suggested\":" +
         (suggested != kLeaveText ? std::to_string(suggested) : std::string("null")) + "}\n";
}

std::string TextRanking(const SuggestionPool& pool, const PageRanking& ranking, std::size_t shown,
                        const Conclusion& conclusion) {
  std::string text = "Code page ranking for " + std::to_string(pool.byteCount) +
                     " bytes of text in " + std::to_string(pool.fileCount) +
                     (pool.fileCount == 1 ? " file" : " files") + ":\n";
  for (size_t i = 0; i < shown; ++i) {
    const RankedPage& page = ranking.pages[i];
    text += "  " + Padded(std::to_string(page.codePage), 4) + "  " +
            Padded("(" + std::string(CodePageName(page.codePage)) + ")", 23) + "score " +
            Decimal(page.score);
    if (i == 0)
      text += "  confidence " + ConfidenceWord(page.confidence);
    text += "\n";
  }
  for (size_t i = 0; i < shown && i < 2; ++i) {
    if (!ranking.pages[i].samples.empty())
      text += SampleLine(ranking.pages[i]);
  }
  return text + conclusion.summary + "\n" + conclusion.advice + "\n";
}

}  // namespace

PageRanking RankPages(const SuggestionPool& pool) {
  PageRanking ranking;
  ranking.decision = DecideAlbum(pool);
  const AlbumDecision& decision = ranking.decision;
  if (decision.candidates.empty())
    return ranking;
  std::vector<RankedPage>& pages = ranking.pages;
  double pageShares = 0;
  for (const PageCandidate& candidate : decision.candidates)
    pageShares += candidate.confidence;
  const bool westernListed = std::any_of(
      decision.candidates.begin(), decision.candidates.end(),
      [](const PageCandidate& candidate) { return candidate.codePage == kWesternPage; });
  // Western text first, as on a tie the decision leaves the text as it is.
  if (!westernListed) {
    RankedPage western;
    western.codePage = kWesternPage;
    western.language = decision.readsWestern ? decision.language : std::string();
    western.bits = decision.westernBits;
    western.confidence = std::max(0.0, 1 - pageShares);
    pages.push_back(western);
  }
  for (const PageCandidate& candidate : decision.candidates)
    pages.push_back(
        {candidate.codePage, candidate.language, candidate.bits, 0, candidate.confidence, {}});
  std::stable_sort(pages.begin(), pages.end(),
                   [](const RankedPage& a, const RankedPage& b) { return a.bits < b.bits; });
  const double perByte = double(std::max<std::size_t>(decision.highByteCount, 1));
  for (RankedPage& page : pages) {
    page.score = std::exp2(-(page.bits - pages.front().bits) / perByte / kBitsPerHalving);
    page.samples = Samples(pool, page.codePage);
  }
  return ranking;
}

int RunSuggestion(const std::vector<PathString>& paths, bool json) {
  ScanState scan;
  for (const PathString& path : paths) {
    if (!IsExistingFolder(path)) {
      scan.files.push_back(path);
      continue;
    }
    NotifyTarget target = CreateNotifyTarget();
    auto* job = new ScanJob;
    job->window = target;
    job->folder = path;
    job->allFormats = true;
    scan.thread = StartWorkerThread(ScanThreadProc, job);
    if (!scan.thread) {
      delete job;
      DestroyNotifyTarget(target);
      WriteMessage(json, "error", "could not start a thread");
      return 1;
    }
    RunNotificationLoop(target, HandleScan, &scan);
    JoinWorkerThread(scan.thread);
    DestroyNotifyTarget(target);
  }

  const SuggestionPool pool = CollectFromFiles(scan.files);
  const PageRanking ranking = RankPages(pool);
  const Conclusion conclusion = Conclude(ranking.decision);
  // The pages worth naming: the best two, which the decision compares, and
  // the next few that read as text at all.
  constexpr size_t kShown = 6;
  std::size_t shown = 0;
  while (shown < ranking.pages.size() && shown < kShown &&
         (shown < 2 || ranking.pages[shown].score >= 0.005))
    ++shown;
  WriteOut(json ? JsonRanking(pool, ranking, shown, conclusion)
                : TextRanking(pool, ranking, shown, conclusion));
  FlushOut();
  return 0;
}

// Formatted by hand, whatever the locale's decimal point.
std::string Decimal(double value) {
  const long hundredths = std::lround(value * 100);
  std::string text = std::to_string(hundredths / 100) + ".";
  text += char('0' + hundredths % 100 / 10);
  text += char('0' + hundredths % 10);
  return text;
}
