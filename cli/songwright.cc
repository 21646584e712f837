// The command line: runs the engine exactly as the wizard does (scan thread,
// then the fix thread started when the scan's completion arrives, every
// notification handled in order on the main thread) and reports on stdout.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/suggest.h"
#include "cli/undo.h"
#include "engine/engine.h"
#include "engine/journal.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

const char kVersion[] = "songwright 1.0.0";

struct Options {
  bool help = false;
  bool version = false;
  bool preview = false;
  bool journal = true;
  bool listRuns = false;
  bool suggest = false;
  bool undo = false;
  std::string undoRun;    // empty: the last run
  unsigned codePage = 0;  // 0: the default page
  bool folderGiven = false;
  PathString folder;
};

// Options are ASCII; anything else can only be a folder.
std::string Narrow(const PathString& argument) {
  std::string text;
  for (PathChar c : argument)
    text.push_back(static_cast<unsigned>(c) < 0x80 ? char(c) : '?');
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z')
      c = char(c - 'A' + 'a');
  }
  return text;
}

// "1251", "cp1251", "CP1251" and "windows-1251" all name code page 1251.
bool ParseCodePage(const std::string& text, unsigned* codePage) {
  std::string digits = Lower(text);
  for (const char* prefix : {"windows-", "cp"}) {
    const std::string p = prefix;
    if (digits.compare(0, p.size(), p) == 0) {
      digits.erase(0, p.size());
      break;
    }
  }
  if (digits.empty() || digits.size() > 5)
    return false;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + unsigned(c - '0');
  }
  if (!IsCodePageSupported(value))
    return false;
  *codePage = value;
  return true;
}

// Run ids are times with an optional counter: 20261208-141500, -2, ...
bool IsRunId(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789-") == std::string::npos &&
         text[0] != '-';
}

int UsageError(const std::string& message) {
  WriteErr("songwright: " + message + " (see songwright --help)\n");
  return kExitUsage;
}

// Returns an exit status when the arguments end the run before it starts.
bool ParseOptions(const std::vector<PathString>& arguments, Options* options, int* status) {
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const PathString& argument = arguments[i];
    const std::string text = Narrow(argument);
    if (!optionsEnded && text.size() > 1 && text[0] == '-') {
      if (text == "--") {
        optionsEnded = true;
      } else if (text == "-h" || text == "--help") {
        options->help = true;
      } else if (text == "--version") {
        options->version = true;
      } else if (text == "--dry-run") {
        options->preview = true;
      } else if (text == "--no-journal") {
        options->journal = false;
      } else if (text == "--list-runs") {
        options->listRuns = true;
      } else if (text == "--suggest") {
        options->suggest = true;
      } else if (text == "--undo" || text.compare(0, 7, "--undo=") == 0) {
        options->undo = true;
        if (text.size() > 6) {
          options->undoRun = text.substr(7);
        } else if (i + 1 < arguments.size() && IsRunId(Narrow(arguments[i + 1]))) {
          options->undoRun = Narrow(arguments[++i]);
        }
      } else if (text == "--codepage" || text.compare(0, 11, "--codepage=") == 0) {
        std::string value;
        if (text.size() > 10) {
          value = text.substr(11);
        } else if (i + 1 < arguments.size()) {
          value = Narrow(arguments[++i]);
        } else {
          *status = UsageError("--codepage needs a code page, such as 1251");
          return false;
        }
        if (!ParseCodePage(value, &options->codePage)) {
          *status = UsageError("unknown code page '" + value + "'");
          return false;
        }
      } else {
        *status = UsageError("unknown option '" + PathForDisplay(argument) + "'");
        return false;
      }
      continue;
    }
    if (options->folderGiven) {
      *status = UsageError("only one folder can be given");
      return false;
    }
    options->folderGiven = true;
    options->folder = argument;
  }
  return true;
}

void PrintHelp(unsigned defaultCodePage) {
  std::string text =
      "Usage: songwright [OPTIONS] [FOLDER]\n"
      "\n"
      "Repairs the song titles, artists, albums and other text of the MP3 files\n"
      "below FOLDER whose tags hold text of a legacy code page stored as Latin-1.\n"
      "ID3v1 fields are copied into empty ID3v2 fields, every Latin-1 ID3v2 text\n"
      "frame holding a byte at or above 0x80 is re-decoded through the code page\n"
      "and stored as UTF-16, and only the files that changed are saved.\n"
      "\n"
      "FOLDER defaults to your music folder";
  const PathString music = DefaultMusicFolder();
  text += music.empty() ? std::string(" (none found here)") : " (" + PathForDisplay(music) + ")";
  text +=
      ".\n"
      "\n"
      "Options:\n"
      "  --codepage CP  the code page the text was written in: 1251, cp1251 or\n"
      "                 windows-1251 for example. Supported: 874, 1250-1258, 932,\n"
      "                 936, 949, 950.\n";
  text += "                 This run uses " + std::to_string(defaultCodePage) + ", from " +
          DescribeDefaultCodePage() + ".\n";
  text +=
      "  --dry-run      show what would be repaired, frame by frame, and write\n"
      "                 nothing\n"
      "  --undo [RUN]   put back every file of the last run (or of RUN) byte for\n"
      "                 byte; files changed since that run are left alone\n"
      "  --list-runs    show the recorded runs: id, time, file count, folder\n"
      "  --suggest      rank the code pages the library's tags may be written in,\n"
      "                 from the text itself; writes nothing\n"
      "  --no-journal   do not record this run (it cannot be undone then)\n"
      "  --help         show this text\n"
      "  --version      show the version\n"
      "\n"
      "Output: one line per fixed file (\"fixed\", a tab, the path below FOLDER) and\n"
      "per failed file (\"failed\", a tab, the path, a tab, the reason), then a\n"
      "summary line. Ctrl-C stops after the file in hand.\n"
      "\n"
      "Exit status: 0 when no file failed, 1 when a file could not be fixed,\n"
      "2 for bad usage, 130 when stopped.\n";
  WriteOut(text);
}

struct RunState {
  Options options;
  NotifyTarget target = nullptr;
  const std::atomic<bool>* stop = nullptr;  // set by Ctrl-C
  std::vector<PathString> foundFiles;
  WorkerThread* scanThread = nullptr;
  WorkerThread* fixThread = nullptr;
  std::uint32_t fixedCount = 0;
  std::uint32_t failedCount = 0;
  std::size_t outcomeCount = 0;
  RunJournal* journal = nullptr;
  bool hintCodePage = false;  // the page came from the locale
  bool showProgress = false;
  bool progressShown = false;
  std::chrono::steady_clock::time_point lastDrawn;
};

void ClearProgress(RunState* run) {
  if (!run->progressShown)
    return;
  WriteErr("\r\033[K");
  run->progressShown = false;
}

void DrawProgress(RunState* run, bool force) {
  if (!run->showProgress)
    return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - run->lastDrawn < std::chrono::milliseconds(100))
    return;
  run->lastDrawn = now;
  std::string line = "\r\033[K";
  if (!run->fixThread) {
    line += "Scanning music folder... " + std::to_string(run->foundFiles.size()) + " found";
  } else {
    const std::size_t total = run->foundFiles.size();
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = total ? run->outcomeCount * kWidth / total : kWidth;
    line += "Fixing song titles... [" + std::string(filled, '#') +
            std::string(kWidth - filled, '.') + "] " + std::to_string(run->outcomeCount) + " of " +
            std::to_string(total);
  }
  WriteErr(line);
  run->progressShown = true;
}

// The path below the folder: the scan builds every path as the folder, one
// separator and the rest.
PathString RelativePath(const RunState& run, const PathString& path) {
  const std::size_t cut = run.options.folder.size() + 1;
  return path.size() >= cut ? path.substr(cut) : path;
}

void ReportOutcome(RunState* run, const FileOutcome& outcome, bool fixed) {
  ClearProgress(run);
  std::string line = fixed ? (run->options.preview ? "would fix\t" : "fixed\t") : "failed\t";
  line += PathForDisplay(RelativePath(*run, outcome.path));
  if (!outcome.issue.empty())
    line += "\t" + WideToUtf8(outcome.issue);
  line += "\n";
  // A preview shows each frame as it reads today and as it would read.
  for (const FrameChange& change : outcome.changes) {
    line += "  " + change.frameId + "  " + WideToUtf8(change.before) + "  \u2192  " +
            WideToUtf8(change.after) + "\n";
  }
  WriteOut(line);
}

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

// A page taken from the locale that reads this library clearly worse than
// another gets a one-line hint; a sample of the files is enough to judge.
void HintAtCodePage(RunState* run) {
  constexpr std::size_t kSample = 200;
  const std::vector<PathString>& found = run->foundFiles;
  std::vector<PathString> sample;
  const std::size_t step = found.size() > kSample ? found.size() / kSample : 1;
  for (std::size_t i = 0; i < found.size() && sample.size() < kSample; i += step)
    sample.push_back(found[i]);
  const std::string hint = CodePageHint(sample, run->options.codePage);
  if (!hint.empty()) {
    ClearProgress(run);
    WriteErr(hint);
  }
}

bool HandleNotification(void* context, const Notification& notification) {
  auto* run = static_cast<RunState*>(context);
  switch (notification.message) {
    case WM_SCAN_FILE_FOUND: {
      std::unique_ptr<PathString> path(reinterpret_cast<PathString*>(notification.payload));
      run->foundFiles.push_back(std::move(*path));
      DrawProgress(run, false);
      return true;
    }
    case WM_SCAN_COMPLETE: {
      JoinWorkerThread(run->scanThread);
      run->scanThread = nullptr;
      if (run->stop->load())
        return false;
      if (run->hintCodePage)
        HintAtCodePage(run);
      auto* job = new FixJob;
      job->window = run->target;
      job->files = &run->foundFiles;
      job->codePage = run->options.codePage;
      job->preview = run->options.preview;
      job->journal = run->journal;
      job->stopRequested = run->stop;
      run->fixThread = StartWorkerThread(FixThreadProc, job);
      if (!run->fixThread) {
        delete job;
        WriteErr("songwright: could not start a thread\n");
        return false;
      }
      DrawProgress(run, true);
      return true;
    }
    case WM_FIX_SUCCEEDED:
    case WM_FIX_FAILED: {
      std::unique_ptr<FileOutcome> outcome(reinterpret_cast<FileOutcome*>(notification.payload));
      const bool fixed = outcome->issue.empty();
      if (notification.message == WM_FIX_SUCCEEDED) {
        ++run->fixedCount;
      } else {
        ++run->failedCount;
      }
      ++run->outcomeCount;
      ReportOutcome(run, *outcome, fixed);
      DrawProgress(run, true);
      return true;
    }
    case WM_FIX_NOT_NEEDED:
      delete reinterpret_cast<FileOutcome*>(notification.payload);
      ++run->outcomeCount;
      DrawProgress(run, false);
      return true;
    case WM_FIX_COMPLETE:
      JoinWorkerThread(run->fixThread);
      run->fixThread = nullptr;
      return false;
    default:
      return true;
  }
}

}  // namespace

int RunSongwright(const std::vector<PathString>& arguments) {
  auto run = std::make_unique<RunState>();
  int status = kExitOk;
  if (!ParseOptions(arguments, &run->options, &status))
    return status;
  Options& options = run->options;
  const bool codePageGiven = options.codePage != 0;
  if (options.codePage == 0)
    options.codePage = AnsiCodePage();
  if (options.help) {
    PrintHelp(options.codePage);
    return kExitOk;
  }
  if (options.version) {
    WriteOut(std::string(kVersion) + "\n");
    return kExitOk;
  }
  if (options.listRuns)
    return ListRuns(StateFolder());
  if (options.undo)
    return UndoRun(StateFolder(), options.undoRun, InstallStopHandler());
  if (!options.folderGiven) {
    options.folder = DefaultMusicFolder();
    if (options.folder.empty())
      return UsageError("no music folder found; name a FOLDER");
  }
  if (options.folder.empty())
    return UsageError("FOLDER is empty");
  if (!IsExistingFolder(options.folder)) {
    return UsageError("'" + PathForDisplay(options.folder) + "' is not a folder");
  }

  if (options.suggest)
    return RunSuggestion(options.folder, options.codePage);
  run->hintCodePage = !codePageGiven;

  run->stop = InstallStopHandler();
  run->showProgress = ErrIsTerminal();
  // What each save replaces is recorded first, so that the run can be undone
  // and a run cut short finished; without recording the journal lives only
  // for the run.
  if (!options.preview)
    run->journal = BeginRunJournal(StateFolder(), {options.folder}, options.journal);
  run->target = CreateNotifyTarget();
  auto* job = new ScanJob;
  job->window = run->target;
  job->folder = options.folder;
  job->stopRequested = run->stop;
  run->scanThread = StartWorkerThread(ScanThreadProc, job);
  if (!run->scanThread) {
    delete job;
    DestroyNotifyTarget(run->target);
    EndRunJournal(run->journal);
    WriteErr("songwright: could not start a thread\n");
    return kExitSomeFailed;
  }
  RunNotificationLoop(run->target, HandleNotification, run.get());
  JoinWorkerThread(run->scanThread);
  JoinWorkerThread(run->fixThread);
  DestroyNotifyTarget(run->target);
  EndRunJournal(run->journal);

  ClearProgress(run.get());
  WriteOut((options.preview ? PreviewSummary(run->fixedCount, run->failedCount)
                            : WideToUtf8(ComposeSummary(run->fixedCount, run->failedCount))) +
           "\n");
  FlushOut();
  if (run->stop->load()) {
    WriteErr("songwright: stopped; files not reached were left as they are\n");
    return kExitStopped;
  }
  return run->failedCount ? kExitSomeFailed : kExitOk;
}
