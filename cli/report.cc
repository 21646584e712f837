// What a command-line run tells: progress on stderr, one line or JSON
// object per file and folder, the settings with -v and the summary.
#include <cctype>
#include <string>

#include "cli/console.h"
#include "cli/json.h"
#include "cli/run-state.h"
#include "cli/show.h"
#include "engine/summary.h"
#include "engine/platform/text.h"

void ClearProgress(RunState* run) {
  if (!run->progressShown)
    return;
  WriteErr("\r\033[K");
  run->progressShown = false;
}

std::string ProgressLine(const RunState& run) {
  if (!run.fixThread)
    return "Scanning music folder... " + std::to_string(run.foundFiles.size()) + " found";
  const std::size_t total = run.foundFiles.size();
  constexpr std::size_t kWidth = 30;
  const std::size_t filled = total ? run.outcomeCount * kWidth / total : kWidth;
  // A preview writes nothing, and says so.
  return std::string(run.options.preview ? "Previewing... [" : "Fixing song titles... [") +
         std::string(filled, '#') + std::string(kWidth - filled, '.') + "] " +
         std::to_string(run.outcomeCount) + " of " + std::to_string(total);
}

void DrawProgress(RunState* run, bool force) {
  if (!run->showProgress)
    return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - run->lastDrawn < std::chrono::milliseconds(100))
    return;
  run->lastDrawn = now;
  WriteErr("\r\033[K" + ProgressLine(*run));
  run->progressShown = true;
}

// With one folder, the path below it (the scan builds every path as the
// folder, one separator and the rest); otherwise the path as found, which
// starts with the argument it came from, so that equal names below two
// folders stay apart.
// The folder album folders are named below: the one folder of the run, else
// none (paths then show as found).
PathString AlbumBase(const RunState& run) {
  return run.paths.size() == 1 && run.paths[0].isFolder ? run.paths[0].path : PathString();
}

PathString ShownPath(const RunState& run, const PathString& path) {
  if (run.paths.size() != 1 || !run.paths[0].isFolder)
    return path;
  const std::size_t cut = run.paths[0].path.size() + 1;
  return path.size() >= cut ? path.substr(cut) : path;
}

namespace {

const char* OutcomeWord(const RunState& run, unsigned message) {
  if (message == WM_FIX_FAILED)
    return "failed";
  if (message == WM_FIX_NOT_NEEDED)
    return run.options.preview ? "needs nothing" : "not needed";
  return run.options.preview ? "would fix" : "fixed";
}

}  // namespace

void ReportOutcome(RunState* run, const FileOutcome& outcome, unsigned message) {
  const Options& options = run->options;
  // A preview names the files it leaves as stored for a reason of their
  // own (a Western track in a Russian album) beside those it would fix.
  const bool noted = options.preview && !outcome.readingNote.empty();
  if ((options.quiet && message != WM_FIX_FAILED) ||
      (!options.verbose && !noted && message == WM_FIX_NOT_NEEDED))
    return;
  const bool showNote = (options.preview || options.verbose) && !outcome.readingNote.empty();
  ClearProgress(run);
  const std::string word = OutcomeWord(*run, message);
  const PathString shown = ShownPath(*run, outcome.path);
  std::string line;
  if (options.json) {
    line = "{\"type\":\"file\"," + JsonPath("file", shown) + ",\"outcome\":" + JsonString(word);
    if (!outcome.issue.empty())
      line += ",\"issue\":" + JsonString(outcome.issue);
    if (!outcome.detail.empty())
      line += ",\"detail\":" + JsonString(outcome.detail);
    if (showNote)
      line += ",\"note\":" + JsonString(outcome.readingNote);
    if (options.preview && message == WM_FIX_SUCCEEDED) {
      line += ",\"frames\":[";
      for (std::size_t i = 0; i < outcome.changes.size(); ++i) {
        const FrameChange& change = outcome.changes[i];
        line += std::string(i ? "," : "") + "{\"id\":" + JsonString(change.frameId) +
                ",\"before\":" + JsonString(change.before) +
                ",\"after\":" + JsonString(change.after) + "}";
      }
      line += "]";
    }
    line += "}\n";
  } else {
    // Names and tag text with their control characters made visible, so
    // that each file stays one line of tab-separated fields.
    line = word + "\t" + ShowPath(shown);
    if (!outcome.issue.empty())
      line += "\t" + ShowText(outcome.issue);
    line += "\n";
    // With -v, what stood in the way of a save, indented below the file.
    if (options.verbose && !outcome.detail.empty())
      line += "  " + ShowText(outcome.detail) + "\n";
    // Why the file is not read through its album's page, or some of its
    // text stays as stored.
    if (showNote)
      line += "  (" + ShowText(outcome.readingNote) + ")\n";
    // A preview shows each frame as it reads today and as it would read; a
    // field the repair fills (an ID3v1 copy) was empty.
    for (const FrameChange& change : outcome.changes) {
      line += "  " + ShowText(change.frameId) + "  " +
              (change.before.empty() ? std::string("(empty)") : ShowText(change.before)) +
              "  \u2192  " + ShowText(change.after) + "\n";
    }
  }
  WriteOut(line);
}

// A folder the scan could not list: listed with -v and in the JSON; a PATH
// given that cannot be listed is an error, and the run's failure.
void ReportUnreadableFolder(RunState* run, const ScanProblem& problem) {
  const Options& options = run->options;
  ++run->unreadableFolders;
  bool given = false;
  for (const RunPath& path : run->paths)
    given = given || (path.isFolder && path.path == problem.folder);
  if (given)
    ++run->failedCount;
  const std::string reason =
      problem.reason.empty() ? std::string("cannot be listed") : WideToUtf8(problem.reason);
  if (options.json) {
    WriteOut("{\"type\":\"folder\"," + JsonPath("folder", ShownPath(*run, problem.folder)) +
             ",\"outcome\":\"unreadable\",\"reason\":" + JsonString(reason) + "}\n");
  } else if (given) {
    WriteMessage(false, "error", "cannot read the folder " + QuotedPath(problem.folder) + ": " +
                                     ShowText(reason));
  } else if (options.verbose) {
    WriteOut("unreadable\t" + ShowPath(ShownPath(*run, problem.folder)) + "\t" +
             ShowText(reason) + "\n");
  }
}

namespace {

// The summary a real run would give, worded as a preview.
std::string PreviewSummary(std::uint32_t fixedCount, std::uint32_t failedCount) {
  std::string summary = WideToUtf8(ComposeSummary(fixedCount, failedCount));
  if (fixedCount == 0 && failedCount == 0) {
    summary = "No files need fixing";
  } else if (fixedCount > 0) {
    summary.replace(0, std::string("Successfully fixed").size(), "Would fix");
  }
  summary[0] = char(std::tolower(static_cast<unsigned char>(summary[0])));
  return "Preview: " + summary + "; nothing was written";
}

// A run whose folders hold no music file says so rather than "No files needed
// fixing", which would suggest that files were read.
std::string NothingFoundSummary(const RunState& run) {
  std::string folders;
  for (const RunPath& path : run.paths)
    folders += (folders.empty() ? "" : ", ") + ShowPath(path.path);
  const std::string found = "music files found in " + folders;
  return run.options.preview ? "Preview: no " + found + "; nothing was written" : "No " + found;
}

}  // namespace

void ReportSummary(const RunState& run, bool stopped) {
  std::string summary = run.options.preview
                            ? PreviewSummary(run.fixedCount, run.failedCount)
                            : WideToUtf8(ComposeSummary(run.fixedCount, run.failedCount));
  if (run.foundFiles.empty() && !stopped)
    summary = NothingFoundSummary(run);
  if (!run.options.json) {
    WriteOut(summary + "\n");
    return;
  }
  const std::size_t notNeeded = run.outcomeCount - run.fixedCount - run.failedCount;
  WriteOut("{\"type\":\"summary\",\"summary\":" + JsonString(summary) +
           ",\"preview\":" + (run.options.preview ? "true" : "false") + ",\"found\":" +
           std::to_string(run.foundFiles.size()) + ",\"fixed\":" + std::to_string(run.fixedCount) +
           ",\"failed\":" + std::to_string(run.failedCount) + ",\"not_needed\":" +
           std::to_string(notNeeded) + ",\"unreadable_folders\":" +
           std::to_string(run.unreadableFolders) + ",\"stopped\":" +
           (stopped ? "true" : "false") + "}\n");
}

// With -v: the code page, the tag version and what the run is.
void DescribeRun(const RunState& run) {
  const Options& options = run.options;
  const bool recorded = !options.preview && options.journal && run.journal;
  if (options.json) {
    WriteErr("{\"type\":\"settings\",\"automatic\":" +
             std::string(options.automatic ? "true" : "false") + ",\"codepage\":" +
             (options.automatic ? std::string("null") : std::to_string(options.codePage)) +
             ",\"id3v2_version\":" + std::to_string(options.id3v2Version) +
             ",\"paths\":" + std::to_string(run.paths.size()) +
             ",\"preview\":" + (options.preview ? "true" : "false") +
             ",\"recorded\":" + (recorded ? "true" : "false") + "}\n");
    return;
  }
  const std::string page = options.automatic
                               ? std::string(
                                     "code page decided per album (--codepage auto, the "
                                     "default; -c names one)")
                               : "code page " + std::to_string(options.codePage) + " (from -c)";
  WriteErr("songwright: " + page + ", tags written as ID3v2." +
           std::to_string(options.id3v2Version) + ", " + std::to_string(run.paths.size()) +
           (run.paths.size() == 1 ? " path" : " paths") + (options.preview ? ", preview" : "") +
           (options.preview || recorded ? "" : ", not recorded") + "\n");
}
