// `--suggest`: the scan thread finds the files, the main thread reads their
// tags read-only and prints the ranking of the code pages.
#include "cli/suggest.h"

#include <cmath>
#include <memory>

#include "cli/console.h"
#include "cli/json.h"
#include "cli/show.h"
#include "engine/engine.h"
#include "engine/suggest.h"

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

std::string SampleLine(const CodePageGuess& guess) {
  std::string line = "Samples decoded as " + std::to_string(guess.codePage) + ":";
  for (size_t i = 0; i < guess.samples.size(); ++i)
    line += std::string(i ? ", " : " ") + "\"" + ShowText(guess.samples[i]) + "\"";
  return line + "\n";
}

SuggestionPool CollectFromFiles(const std::vector<PathString>& files) {
  SuggestionPool pool;
  for (const PathString& file : files)
    CollectFromFile(file, &pool);
  return pool;
}

}  // namespace

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
  const std::vector<CodePageGuess> ranking = RankCodePages(pool);
  const bool sure = IsSure(ranking);
  // The conclusion, and what a run without -c does instead.
  std::string conclusion, advice;
  if (sure) {
    conclusion = "Suggested: --codepage " + std::to_string(ranking[0].codePage);
    advice =
        "That page repairs every file through it; a run without -c (the default, --codepage "
        "auto) decides the page per album instead, for a library that mixes pages.";
  } else {
    conclusion = pool.highByteCount < kMinimumHighBytes
                     ? "Not sure: too little text to judge (" + std::to_string(pool.highByteCount) +
                           " bytes at or above 0x80)."
                     : "Not sure: no code page reads clearly better than the others.";
    advice =
        "A run without -c (the default, --codepage auto) decides the page per album and leaves "
        "an album it is not sure of as it is; or name the page with --codepage.";
  }

  // The pages worth naming: the first few that read as text at all.
  constexpr size_t kShown = 6;
  std::size_t shown = 0;
  while (shown < ranking.size() && shown < kShown && (shown == 0 || ranking[shown].score > 0))
    ++shown;
  if (json) {
    std::string text;
    for (size_t i = 0; i < shown; ++i) {
      const CodePageGuess& guess = ranking[i];
      text += "{\"type\":\"codepage\",\"codepage\":" + std::to_string(guess.codePage) +
              ",\"name\":" + JsonString(CodePageName(guess.codePage)) +
              ",\"score\":" + JsonDecimal(guess.score) +
              ",\"confidence\":" + JsonDecimal(guess.confidence) + ",\"samples\":[";
      for (size_t k = 0; k < guess.samples.size(); ++k)
        text += (k ? "," : "") + JsonString(guess.samples[k]);
      text += "]}\n";
    }
    text += "{\"type\":\"summary\",\"summary\":" + JsonString(conclusion) +
            ",\"advice\":" + JsonString(advice) + ",\"bytes\":" + std::to_string(pool.byteCount) +
            ",\"files\":" + std::to_string(pool.fileCount) +
            ",\"high_bytes\":" + std::to_string(pool.highByteCount) +
            ",\"suggested\":" + (sure ? std::to_string(ranking[0].codePage) : std::string("null")) +
            "}\n";
    WriteOut(text);
    FlushOut();
    return 0;
  }

  std::string text = "Code page ranking for " + std::to_string(pool.byteCount) +
                     " bytes of text in " + std::to_string(pool.fileCount) +
                     (pool.fileCount == 1 ? " file" : " files") + ":\n";
  for (size_t i = 0; i < shown; ++i) {
    const CodePageGuess& guess = ranking[i];
    text += "  " + Padded(std::to_string(guess.codePage), 4) + "  " +
            Padded("(" + std::string(CodePageName(guess.codePage)) + ")", 23) + "score " +
            Decimal(guess.score);
    if (i == 0)
      text += "  confidence " + ConfidenceWord(guess.confidence);
    text += "\n";
  }
  for (size_t i = 0; i < ranking.size() && i < 2; ++i) {
    if (!ranking[i].samples.empty())
      text += SampleLine(ranking[i]);
  }
  WriteOut(text + conclusion + "\n" + advice + "\n");
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
