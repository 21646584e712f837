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

#include "cli/auto.h"
#include "cli/console.h"
#include "cli/json.h"
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
  bool quiet = false;
  bool verbose = false;
  bool json = false;
  bool journal = true;
  bool listRuns = false;
  bool suggest = false;
  bool undo = false;
  std::string undoRun;        // empty: the last run
  unsigned codePage = 0;      // 0: the default page
  unsigned id3v2Version = 4;  // the version a saved tag is written in
  unsigned jobs = 0;          // 0: one per processor
  std::vector<PathString> paths;

  // --codepage auto, and the pages named per album (folders as given until
  // the run resolves them).
  bool automatic = false;
  std::vector<AlbumCodePage> albumCodePages;
};

// Options are ASCII; anything else can only be a path.
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

// --- Options -----------------------------------------------------------------
// Every option is one row: its names, whether it takes a value, what it sets
// and its lines in --help. The parser and --help read this table; the tests
// check the man page and the shell completions against --help.

enum class Takes {
  kNothing,
  kValue,  // -c CP, -cCP, --codepage CP, --codepage=CP
  kRunId,  // --undo, --undo RUN (when RUN looks like a run id), --undo=RUN
};

struct OptionRule {
  char shortName;        // '\0' when there is none
  const char* longName;  // without the leading "--"
  Takes takes;
  const char* valueName;  // in --help: "CP"
  const char* help;       // lines of at most 52 characters
  // Returns the text of a usage error, or empty.
  // `value` is the argument as given (a folder may not be ASCII).
  std::string (*apply)(Options* options, const PathString& value);
};

// "Artist/Album=1250" or "Artist/Album=leave".
std::string AddAlbumCodePage(const PathString& value, Options* options) {
  AlbumCodePage named;
  std::string page;
  if (!SplitAlbumCodePage(value, &named.folder, &page))
    return "--album-codepage needs FOLDER=PAGE, not '" + PathForDisplay(value) + "'";
  if (Lower(page) == "leave") {
    named.codePage = kLeaveText;
  } else if (!ParseCodePage(page, &named.codePage)) {
    return "unknown code page '" + page + "'";
  }
  options->albumCodePages.push_back(named);
  return std::string();
}

std::string SetFlag(bool* flag) {
  *flag = true;
  return std::string();
}

const OptionRule kOptionRules[] = {
    {'n', "dry-run", Takes::kNothing, "",
     "show what would be repaired, frame by frame, and\nwrite nothing",
     [](Options* o, const PathString&) { return SetFlag(&o->preview); }},
    {'c', "codepage", Takes::kValue, "CP",
     "the code page the text was written in: 1251,\ncp1251 or windows-1251 for example. "
     "Supported:\n874, 1250-1258, 932, 936, 949, 950",
     [](Options* o, const PathString& raw) {
       const std::string value = Narrow(raw);
       if (Lower(value) == "auto") {
         o->automatic = true;
         return std::string();
       }
       return ParseCodePage(value, &o->codePage) ? std::string()
                                                 : "unknown code page '" + value + "'";
     }},
    {'\0', "album-codepage", Takes::kValue, "FOLDER=PAGE",
     "with --codepage auto: the page for the files of\nFOLDER (below the folder repaired, or\n"
     "absolute); PAGE \"leave\" leaves them as they\nare. May be repeated",
     [](Options* o, const PathString& value) { return AddAlbumCodePage(value, o); }},
    {'\0', "id3v2-version", Takes::kValue, "N",
     "write repaired tags as ID3v2.4 (4, the default)\nor as ID3v2.3 with UTF-16 text (3), "
     "which older\ndevices and car stereos read",
     [](Options* o, const PathString& raw) {
       const std::string value = Narrow(raw);
       if (value == "3" || value == "2.3") {
         o->id3v2Version = 3;
       } else if (value == "4" || value == "2.4") {
         o->id3v2Version = 4;
       } else {
         return "--id3v2-version takes 3 or 4, not '" + value + "'";
       }
       return std::string();
     }},
    {'j', "jobs", Takes::kValue, "N",
     "files read at once in a real run (default: one\nper processor); with 2 or more they are read\n"
     "while a batch of saves is made durable",
     [](Options* o, const PathString& raw) {
       const std::string value = Narrow(raw);
       unsigned jobs = 0;
       for (char c : value) {
         if (c < '0' || c > '9' || jobs > 1000) {
           jobs = 0;
           break;
         }
         jobs = jobs * 10 + unsigned(c - '0');
       }
       if (jobs < 1 || jobs > 1024)
         return "--jobs takes a number from 1 to 1024, not '" + value + "'";
       o->jobs = jobs;
       return std::string();
     }},
    {'q', "quiet", Takes::kNothing, "", "print only failed files and the summary",
     [](Options* o, const PathString&) { return SetFlag(&o->quiet); }},
    {'v', "verbose", Takes::kNothing, "",
     "also list the files that need nothing, and say\nwhich code page and tag version "
     "the run uses",
     [](Options* o, const PathString&) { return SetFlag(&o->verbose); }},
    {'\0', "json", Takes::kNothing, "", "print one JSON object per line instead of text",
     [](Options* o, const PathString&) { return SetFlag(&o->json); }},
    {'\0', "undo", Takes::kRunId, "[RUN]",
     "put back every file of the last run (or of RUN)\nbyte for byte; files changed since "
     "that run are\nleft alone",
     [](Options* o, const PathString& value) {
       o->undoRun = Narrow(value);
       return SetFlag(&o->undo);
     }},
    {'\0', "list-runs", Takes::kNothing, "", "show the recorded runs: id, time, file count,\npaths",
     [](Options* o, const PathString&) { return SetFlag(&o->listRuns); }},
    {'\0', "suggest", Takes::kNothing, "",
     "rank the code pages the tags may be written in,\nfrom the text itself; writes nothing",
     [](Options* o, const PathString&) { return SetFlag(&o->suggest); }},
    {'\0', "no-journal", Takes::kNothing, "", "do not record this run (it cannot be undone\nthen)",
     [](Options* o, const PathString&) {
       o->journal = false;
       return std::string();
     }},
    {'h', "help", Takes::kNothing, "", "show this text",
     [](Options* o, const PathString&) { return SetFlag(&o->help); }},
    {'V', "version", Takes::kNothing, "", "show the version",
     [](Options* o, const PathString&) { return SetFlag(&o->version); }},
};

const OptionRule* FindLong(const std::string& name) {
  for (const OptionRule& rule : kOptionRules) {
    if (name == rule.longName)
      return &rule;
  }
  return nullptr;
}

const OptionRule* FindShort(char name) {
  for (const OptionRule& rule : kOptionRules) {
    if (rule.shortName != '\0' && name == rule.shortName)
      return &rule;
  }
  return nullptr;
}

// GNU style: long options with "=VALUE" or the next argument as value,
// clusters of short options ("-nq", "-c1251", "-c 1251"), "--" to end the
// options, and options and paths in any order. Returns false with the exit
// status when the arguments end the run before it starts.
bool ParseOptions(const std::vector<PathString>& arguments, Options* options, int* status) {
  bool optionsEnded = false;
  std::string error;
  for (size_t i = 0; i < arguments.size() && error.empty(); ++i) {
    const std::string text = Narrow(arguments[i]);
    if (optionsEnded || text.size() < 2 || text[0] != '-') {
      options->paths.push_back(arguments[i]);
      continue;
    }
    if (text == "--") {
      optionsEnded = true;
      continue;
    }
    const bool hasNext = i + 1 < arguments.size();
    if (text[1] == '-') {
      const size_t equals = text.find('=');
      const std::string name = text.substr(2, equals == std::string::npos ? equals : equals - 2);
      const OptionRule* rule = FindLong(name);
      if (!rule) {
        error = "unknown option '" + PathForDisplay(arguments[i]) + "'";
        break;
      }
      PathString value;
      if (equals != std::string::npos) {
        if (rule->takes == Takes::kNothing) {
          error = "--" + name + " takes no value";
          break;
        }
        value = arguments[i].substr(equals + 1);
      } else if (rule->takes == Takes::kValue) {
        if (!hasNext) {
          error = "--" + name + " needs a value (" + rule->valueName + ")";
          break;
        }
        value = arguments[++i];
      } else if (rule->takes == Takes::kRunId && hasNext && IsRunId(Narrow(arguments[i + 1]))) {
        value = arguments[++i];
      }
      error = rule->apply(options, value);
      continue;
    }
    for (size_t at = 1; at < text.size() && error.empty(); ++at) {
      const OptionRule* rule = FindShort(text[at]);
      if (!rule) {
        error = "unknown option '-" + std::string(1, text[at]) + "'";
        break;
      }
      PathString value;
      if (rule->takes == Takes::kValue) {
        if (at + 1 < text.size()) {
          value = arguments[i].substr(at + 1);
        } else if (i + 1 < arguments.size()) {
          value = arguments[++i];
        } else {
          error =
              "-" + std::string(1, rule->shortName) + " needs a value (" + rule->valueName + ")";
          break;
        }
        at = text.size();
      }
      error = rule->apply(options, value);
    }
  }
  if (error.empty() && options->quiet && options->verbose)
    error = "--quiet and --verbose exclude each other";
  if (error.empty() && options->json && (options->undo || options->listRuns || options->suggest))
    error = "--json applies to repairs and previews only";
  if (!error.empty()) {
    *status = UsageError(error);
    return false;
  }
  return true;
}

std::string OptionHelp() {
  constexpr size_t kColumn = 26;
  std::string text;
  for (const OptionRule& rule : kOptionRules) {
    std::string names = rule.shortName ? std::string("  -") + rule.shortName + ", " : "      ";
    names += std::string("--") + rule.longName;
    if (*rule.valueName)
      names += std::string(" ") + rule.valueName;
    names += names.size() + 2 <= kColumn ? std::string(kColumn - names.size(), ' ')
                                         : "\n" + std::string(kColumn, ' ');
    std::string help = rule.help;
    for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
      help.insert(at + 1, kColumn, ' ');
    text += names + help + "\n";
  }
  return text;
}

void PrintHelp(unsigned defaultCodePage) {
  std::string text =
      "Usage: songwright [OPTIONS] [PATH...]\n"
      "\n"
      "Repairs the song titles, artists, albums and other text of MP3 files whose\n"
      "tags hold text of a legacy code page stored as Latin-1. ID3v1 fields are\n"
      "copied into empty ID3v2 fields, every Latin-1 ID3v2 text frame holding a\n"
      "byte at or above 0x80 is re-decoded through the code page and stored as\n"
      "UTF-16, and only the files that changed are saved.\n"
      "\n"
      "Each PATH is a folder, walked for files ending in .mp3, or a file, taken\n"
      "as it is. Without one the run takes your music folder";
  const PathString music = DefaultMusicFolder();
  text += music.empty() ? std::string(" (none found here)") : " (" + PathForDisplay(music) + ")";
  text += ".\n\nOptions:\n" + OptionHelp();
  text += "\nThis run uses " + std::to_string(defaultCodePage) + " unless -c names a page (from " +
          DescribeDefaultCodePage() + ").\n";
  text +=
      "\n"
      "Output: one line per fixed file (\"fixed\", a tab, the path) and per failed\n"
      "file (\"failed\", a tab, the path, a tab, the reason), then a summary line.\n"
      "Paths are shown below the folder when one folder is given, else as found.\n"
      "Ctrl-C stops after the file in hand.\n"
      "\n"
      "Exit status: 0 when no file failed, 1 when a file could not be fixed,\n"
      "2 for bad usage, 130 when stopped.\n";
  WriteOut(text);
}

// One path of the command line, checked before anything is touched.
struct RunPath {
  PathString path;
  bool isFolder = false;
};

struct RunState {
  Options options;
  std::vector<RunPath> paths;
  std::size_t nextPath = 0;  // the next path to take into the found list
  NotifyTarget target = nullptr;
  const std::atomic<bool>* stop = nullptr;  // set by Ctrl-C
  std::vector<PathString> foundFiles;
  WorkerThread* scanThread = nullptr;
  WorkerThread* fixThread = nullptr;
  bool threadFailed = false;
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

const char* OutcomeWord(const RunState& run, unsigned message) {
  if (message == WM_FIX_FAILED)
    return "failed";
  if (message == WM_FIX_NOT_NEEDED)
    return run.options.preview ? "needs nothing" : "not needed";
  return run.options.preview ? "would fix" : "fixed";
}

void ReportOutcome(RunState* run, const FileOutcome& outcome, unsigned message) {
  const Options& options = run->options;
  if ((options.quiet && message != WM_FIX_FAILED) ||
      (!options.verbose && message == WM_FIX_NOT_NEEDED))
    return;
  ClearProgress(run);
  const std::string word = OutcomeWord(*run, message);
  const std::string shown = PathForDisplay(ShownPath(*run, outcome.path));
  std::string line;
  if (options.json) {
    line = "{\"type\":\"file\",\"file\":" + JsonString(shown) + ",\"outcome\":" + JsonString(word);
    if (!outcome.issue.empty())
      line += ",\"issue\":" + JsonString(WideToUtf8(outcome.issue));
    if (!outcome.detail.empty())
      line += ",\"detail\":" + JsonString(WideToUtf8(outcome.detail));
    if (options.preview && message == WM_FIX_SUCCEEDED) {
      line += ",\"frames\":[";
      for (std::size_t i = 0; i < outcome.changes.size(); ++i) {
        const FrameChange& change = outcome.changes[i];
        line += std::string(i ? "," : "") + "{\"id\":" + JsonString(change.frameId) +
                ",\"before\":" + JsonString(WideToUtf8(change.before)) +
                ",\"after\":" + JsonString(WideToUtf8(change.after)) + "}";
      }
      line += "]";
    }
    line += "}\n";
  } else {
    line = word + "\t" + shown;
    if (!outcome.issue.empty())
      line += "\t" + WideToUtf8(outcome.issue);
    line += "\n";
    // With -v, what stood in the way of a save, indented below the file.
    if (options.verbose && !outcome.detail.empty())
      line += "  " + WideToUtf8(outcome.detail) + "\n";
    // A preview shows each frame as it reads today and as it would read.
    for (const FrameChange& change : outcome.changes) {
      line += "  " + change.frameId + "  " + WideToUtf8(change.before) + "  \u2192  " +
              WideToUtf8(change.after) + "\n";
    }
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

void ReportSummary(const RunState& run, bool stopped) {
  const std::string summary = run.options.preview
                                  ? PreviewSummary(run.fixedCount, run.failedCount)
                                  : WideToUtf8(ComposeSummary(run.fixedCount, run.failedCount));
  if (!run.options.json) {
    WriteOut(summary + "\n");
    return;
  }
  const std::size_t notNeeded = run.outcomeCount - run.fixedCount - run.failedCount;
  WriteOut("{\"type\":\"summary\",\"summary\":" + JsonString(summary) +
           ",\"preview\":" + (run.options.preview ? "true" : "false") + ",\"found\":" +
           std::to_string(run.foundFiles.size()) + ",\"fixed\":" + std::to_string(run.fixedCount) +
           ",\"failed\":" + std::to_string(run.failedCount) + ",\"not_needed\":" +
           std::to_string(notNeeded) + ",\"stopped\":" + (stopped ? "true" : "false") + "}\n");
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

// Takes the paths into the found list in their order: a file as it is, a
// folder through a scan thread. Returns true while a scan runs; its
// WM_SCAN_COMPLETE comes back here.
bool ScanNextPaths(RunState* run) {
  while (run->nextPath < run->paths.size()) {
    const RunPath& next = run->paths[run->nextPath++];
    if (!next.isFolder) {
      run->foundFiles.push_back(next.path);
      continue;
    }
    auto* job = new ScanJob;
    job->window = run->target;
    job->folder = next.path;
    job->stopRequested = run->stop;
    run->scanThread = StartWorkerThread(ScanThreadProc, job);
    if (!run->scanThread) {
      delete job;
      run->threadFailed = true;
      return false;
    }
    return true;
  }
  return false;
}

bool StartFix(RunState* run) {
  if (run->hintCodePage && !run->options.quiet)
    HintAtCodePage(run);
  auto* job = new FixJob;
  job->window = run->target;
  job->files = &run->foundFiles;
  job->codePage = run->options.codePage;
  job->id3v2Version = run->options.id3v2Version;
  job->automatic = run->options.automatic;
  job->albumCodePages = &run->options.albumCodePages;
  job->preview = run->options.preview;
  job->journal = run->journal;
  job->jobs = run->options.jobs ? run->options.jobs : ProcessorCount();
  job->stopRequested = run->stop;
  run->fixThread = StartWorkerThread(FixThreadProc, job);
  if (!run->fixThread) {
    delete job;
    run->threadFailed = true;
    return false;
  }
  DrawProgress(run, true);
  return true;
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
    case WM_SCAN_COMPLETE:
      JoinWorkerThread(run->scanThread);
      run->scanThread = nullptr;
      if (run->stop->load())
        return false;
      if (ScanNextPaths(run))
        return true;
      return !run->threadFailed && StartFix(run);
    case WM_FIX_SUCCEEDED:
    case WM_FIX_NOT_NEEDED:
    case WM_FIX_FAILED: {
      std::unique_ptr<FileOutcome> outcome(reinterpret_cast<FileOutcome*>(notification.payload));
      if (notification.message == WM_FIX_SUCCEEDED) {
        ++run->fixedCount;
      } else if (notification.message == WM_FIX_FAILED) {
        ++run->failedCount;
      }
      ++run->outcomeCount;
      ReportOutcome(run, *outcome, notification.message);
      DrawProgress(run, notification.message != WM_FIX_NOT_NEEDED);
      return true;
    }
    case WM_FIX_ALBUM_DECIDED: {
      std::unique_ptr<AlbumDecision> decision(
          reinterpret_cast<AlbumDecision*>(notification.payload));
      ClearProgress(run);
      ReportAlbumDecision(*decision, AlbumBase(*run), run->options.preview);
      return true;
    }
    case WM_FIX_COMPLETE:
      JoinWorkerThread(run->fixThread);
      run->fixThread = nullptr;
      return false;
    default:
      return true;
  }
}

// Every path must be a folder or a file before anything is touched.
bool CheckPaths(const std::vector<PathString>& paths, std::vector<RunPath>* checked, int* status) {
  for (const PathString& path : paths) {
    RunPath entry;
    entry.path = path;
    if (path.empty()) {
      *status = UsageError("a PATH is empty");
      return false;
    }
    entry.isFolder = IsExistingFolder(path);
    if (!entry.isFolder && !IsExistingFile(path)) {
      *status = UsageError("'" + PathForDisplay(path) + "' is not a file or folder");
      return false;
    }
    // "Music/" walks as "Music", so that its files show as "Music/a.mp3";
    // a root ("/", "C:\\") keeps its separator.
    PathString& folder = entry.path;
    while (entry.isFolder && folder.size() > 1 && folder.back() == kPathSeparator &&
           folder[folder.size() - 2] != PATH_TEXT(':'))
      folder.pop_back();
    checked->push_back(std::move(entry));
  }
  return true;
}

void DescribeRun(const RunState& run, bool codePageGiven) {
  const Options& options = run.options;
  WriteErr("songwright: code page " + std::to_string(options.codePage) + " (" +
           (codePageGiven ? std::string("from -c") : "from " + DescribeDefaultCodePage()) +
           "), tags written as ID3v2." + std::to_string(options.id3v2Version) + ", " +
           std::to_string(run.paths.size()) + (run.paths.size() == 1 ? " path" : " paths") +
           (options.preview ? ", preview" : "") +
           (options.preview || (options.journal && run.journal) ? "" : ", not recorded") + "\n");
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
  if (options.paths.empty()) {
    const PathString music = DefaultMusicFolder();
    if (music.empty())
      return UsageError("no music folder found; name a PATH");
    if (!IsExistingFolder(music))
      return UsageError("'" + PathForDisplay(music) + "' is not a folder");
    options.paths.push_back(music);
  }
  if (!CheckPaths(options.paths, &run->paths, &status))
    return status;
  if (!options.albumCodePages.empty() && !options.automatic)
    return UsageError("--album-codepage needs --codepage auto");
  for (AlbumCodePage& named : options.albumCodePages)
    named.folder = ResolveAlbumFolder(AlbumBase(*run), named.folder);

  if (options.suggest)
    return RunSuggestion(options.paths, options.codePage);
  run->hintCodePage = !codePageGiven && !options.automatic;

  run->stop = InstallStopHandler();
  run->showProgress = ErrIsTerminal() && !options.quiet;
  // What each save replaces is recorded first, so that the run can be undone
  // and a run cut short finished; without recording the journal lives only
  // for the run.
  if (!options.preview)
    run->journal = BeginRunJournal(StateFolder(), options.paths, options.journal);
  if (options.verbose)
    DescribeRun(*run, codePageGiven);
  run->target = CreateNotifyTarget();
  if (!ScanNextPaths(run.get()) && (run->threadFailed || !StartFix(run.get()))) {
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
  if (run->threadFailed)
    WriteErr("songwright: could not start a thread\n");
  const bool stopped = run->stop->load();
  ReportSummary(*run, stopped);
  FlushOut();
  if (stopped) {
    WriteErr("songwright: stopped; files not reached were left as they are\n");
    return kExitStopped;
  }
  if (run->threadFailed)
    return kExitSomeFailed;
  return run->failedCount ? kExitSomeFailed : kExitOk;
}
