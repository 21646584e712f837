// The command line: runs the engine exactly as the wizard does (scan thread,
// then the fix thread started when the scan's completion arrives, every
// notification handled in order on the main thread) and reports on stdout.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/auto.h"
#include "cli/console.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/rename.h"
#include "cli/show.h"
#include "cli/suggest.h"
#include "cli/undo.h"
#include "engine/engine.h"
#include "engine/journal.h"
#include "engine/format.h"
#include "engine/playlist.h"
#include "engine/run-lock.h"
#include "engine/path.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitStopped = 130;

const char kVersion[] = "songwright 1.0.0";

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
  std::size_t unreadableFolders = 0;
  RunJournal* journal = nullptr;
  NameEvidence nameEvidence;  // --rename: the pages decided per folder
  // --rename: the playlists and cue sheets found, repaired once the names
  // are decided so that their entries follow them.
  std::vector<PathString> playlists;
  // Files a first save repaired in part, saved again once the run's saves
  // are done (an MP3 file's APEv2 tag).
  std::vector<PathString> secondPass;
  // A follow-up job over playlists or the second pass: their albums were
  // told with the audio; a second pass tells only its failures.
  enum class Phase { kMain, kPlaylists, kSecondPass } phase = Phase::kMain;
  // A folder of --album-codepage where the scan found no file: the run ends
  // with a usage error before the fix starts.
  bool refusedToStart = false;      // a usage error found once the scan was done
  bool withoutStateFolder = false;  // --no-journal with a state folder it cannot write
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

// Every folder named with --album-codepage must hold a file the scan found
// (directly in it); else the run is a usage error before anything is
// written. Returns false after saying which folders hold none.
bool CheckNamedAlbums(RunState* run) {
  const Options& options = run->options;
  if (options.albumCodePages.empty())
    return true;
  std::set<PathString> folders;
  for (const PathString& file : run->foundFiles)
    folders.insert(FolderOf(file));
  std::string missing;
  for (std::size_t i = 0; i < options.albumCodePages.size(); ++i) {
    if (folders.count(options.albumCodePages[i].folder))
      continue;
    missing += (missing.empty() ? "" : ", ") + QuotedPath(options.albumFoldersGiven[i]);
  }
  if (missing.empty())
    return true;
  ClearProgress(run);
  UsageError("--album-codepage names " + missing +
             ", where the scan found no music file directly in the folder");
  return false;
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
    job->reportUnreadable = true;
    job->allFormats = true;
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

// A run that records its saves needs a state folder it can write: without
// one it stops before any file is touched. With --no-journal it goes on,
// each file saved by itself (crash-safe beside the file, not undoable).
bool StateFolderReady(RunState* run) {
  const PathString folder = StateFolder();
  if (folder.empty() || StateFolderWritable(folder))
    return true;
  if (!run->options.journal) {
    run->withoutStateFolder = true;
    return true;
  }
  ClearProgress(run);
  WriteMessage(run->options.json, "error",
               "cannot write the state folder " + QuotedPath(folder) +
                   ", where a run is recorded so that --undo can take it back; make it "
                   "writable, or run with --no-journal (the run then cannot be undone)");
  run->refusedToStart = true;
  return false;
}

FixJob* NewFixJob(const RunState& run, const std::vector<PathString>* files) {
  auto* job = new FixJob;
  job->window = run.target;
  job->files = files;
  job->codePage = run.options.codePage;
  job->id3v2Version = run.options.id3v2Version;
  job->automatic = run.options.automatic;
  job->albumCodePages = &run.options.albumCodePages;
  job->preview = run.options.preview;
  job->journal = run.journal;
  job->jobs = run.options.jobs ? run.options.jobs : ProcessorCount();
  job->stopRequested = run.stop;
  return job;
}

bool StartFix(RunState* run) {
  if (!CheckNamedAlbums(run)) {
    run->refusedToStart = true;
    return false;
  }
  // What each save replaces is recorded first, so that the run can be undone
  // and a run cut short finished; without recording the journal lives only
  // for the run. It begins (and finishes what an earlier run left) only once
  // the run is sure to start.
  if (!run->options.preview && !StateFolderReady(run))
    return false;
  if (!run->options.preview && !run->withoutStateFolder)
    run->journal = BeginRunJournal(StateFolder(), run->options.paths, run->options.journal);
  if (run->options.verbose) {
    ClearProgress(run);
    DescribeRun(*run);
  }
  FixJob* job = NewFixJob(*run, &run->foundFiles);
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
      const bool playlist = FormatOfPath(*path) == AudioFormat::kPlaylist;
      (run->options.rename && playlist ? run->playlists : run->foundFiles)
          .push_back(std::move(*path));
      DrawProgress(run, false);
      return true;
    }
    case WM_SCAN_FOLDER_UNREADABLE: {
      std::unique_ptr<ScanProblem> problem(reinterpret_cast<ScanProblem*>(notification.payload));
      ClearProgress(run);
      ReportUnreadableFolder(run, *problem);
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
      if (outcome->moreToRepair && !run->options.preview)
        run->secondPass.push_back(outcome->path);
      // The second pass's files were told once already.
      if (run->phase == RunState::Phase::kSecondPass && notification.message != WM_FIX_FAILED)
        return true;
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
      if (run->phase != RunState::Phase::kMain)
        return true;
      ClearProgress(run);
      AlbumReport report;
      report.preview = run->options.preview;
      report.json = run->options.json;
      report.quiet = run->options.quiet;
      ReportAlbumDecision(*decision, AlbumBase(*run), report);
      std::vector<unsigned>& pages = run->nameEvidence.folderPages[decision->folder];
      if (decision->codePage != kLeaveText)
        pages.push_back(decision->codePage);
      pages.insert(pages.end(), decision->trackCodePages.begin(), decision->trackCodePages.end());
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
      *status = UsageError(QuotedPath(path) + " is not a file or folder");
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

RenameReport NameReport(const RunState& run) {
  RenameReport report;
  report.preview = run.options.preview;
  report.json = run.options.json;
  report.quiet = run.options.quiet;
  report.base = AlbumBase(run);
  return report;
}

// A job after the main one over `files`, in the run's journal. Playlists
// are read through the page decided for their album with the audio (when
// one was); a second pass decides again, from text partly repaired.
void RunFollowUp(RunState* run, RunState::Phase phase, const std::vector<PathString>* files,
                 const PlaylistRenames* renames) {
  if (run->stop->load() || run->threadFailed)
    return;
  std::vector<AlbumCodePage> decided = run->options.albumCodePages;
  for (const auto& [folder, pages] : run->nameEvidence.folderPages) {
    if (!pages.empty() && phase == RunState::Phase::kPlaylists)
      decided.push_back(AlbumCodePage{folder, pages.front()});
  }
  run->phase = phase;
  run->target = CreateNotifyTarget();
  FixJob* job = NewFixJob(*run, files);
  job->albumCodePages = &decided;
  job->playlistRenames = renames;
  run->fixThread = StartWorkerThread(FixThreadProc, job);
  if (run->fixThread) {
    RunNotificationLoop(run->target, HandleNotification, run);
    JoinWorkerThread(run->fixThread);
    run->fixThread = nullptr;
  } else {
    delete job;
    run->threadFailed = true;
  }
  DestroyNotifyTarget(run->target);
  run->target = nullptr;
  run->phase = RunState::Phase::kMain;
}

// --rename: the playlists and cue sheets, once the names are decided and
// before they change, so that their entries name the files' new names. An
// album decided with the audio reads its playlists through the same page.
void RepairPlaylists(RunState* run, const RenamePlan& plan) {
  if (run->playlists.empty())
    return;
  PlaylistRenames renames;
  for (const auto& [from, to] : plan.renames)
    AddPlaylistRename(&renames, from, to);
  RunFollowUp(run, RunState::Phase::kPlaylists, &run->playlists, &renames);
  // Counted with the files the run found.
  run->foundFiles.insert(run->foundFiles.end(), run->playlists.begin(), run->playlists.end());
}

// --rename: the names below the folders of the run, with the pages its
// albums were decided (or named) in as evidence.
RenameCounts RenameBelow(RunState& run, const RenameReport& report) {
  std::vector<PathString> folders;
  for (const RunPath& path : run.paths) {
    if (path.isFolder)
      folders.push_back(path.path);
  }
  NameEvidence& evidence = run.nameEvidence;
  if (!run.options.automatic)
    evidence.page = run.options.codePage;
  for (const AlbumCodePage& named : run.options.albumCodePages) {
    if (named.codePage != kLeaveText)
      evidence.folderPages[named.folder].push_back(named.codePage);
  }
  return RunRenames(folders, evidence, run.journal, run.stop, report,
                    [&run](const RenamePlan& plan) { RepairPlaylists(&run, plan); });
}

}  // namespace

int RunSongwright(const std::vector<PathString>& arguments) {
  auto run = std::make_unique<RunState>();
  int status = kExitOk;
  SetJsonMessages(AsksForJson(arguments));
  if (!ParseOptions(arguments, &run->options, &status))
    return status;
  Options& options = run->options;
  SetJsonMessages(options.json);
  if (options.help) {
    PrintHelp();
    return kExitOk;
  }
  if (options.version) {
    WriteOut(std::string(kVersion) + "\n");
    return kExitOk;
  }
  if (options.listRuns)
    return ListRuns(StateFolder(), options.json);
  if (options.undo)
    return UndoRun(StateFolder(), options.undoRun, InstallStopHandler(), options.json);
  if (options.paths.empty()) {
    const PathString music = DefaultMusicFolder();
    // Say which folder was tried and that it is only the default, so that a
    // first run on a machine without one shows how to go on.
    if (music.empty())
      return UsageError("no music folder found (no home folder); name a folder: songwright PATH");
    if (!IsExistingFolder(music))
      return UsageError("no music folder at " + QuotedPath(music) +
                        " (the default when no PATH is given); name a folder: songwright PATH");
    options.paths.push_back(music);
  }
  if (!CheckPaths(options.paths, &run->paths, &status))
    return status;
  for (AlbumCodePage& named : options.albumCodePages)
    named.folder = ResolveAlbumFolder(AlbumBase(*run), named.folder);

  if (options.suggest)
    return RunSuggestion(options.paths, options.json);

  // A run that writes holds its paths until it ends, so that a second run
  // over the same files refuses instead of saving them too.
  std::unique_ptr<RunLocks, void (*)(RunLocks*)> locks(nullptr, UnlockRunPaths);
  if (!options.preview) {
    PathString busy;
    locks.reset(LockRunPaths(options.paths, &busy));
    if (!locks)
      return BusyError(options.json, busy);
  }

  run->stop = InstallStopHandler();
  run->showProgress = ErrIsTerminal() && !options.quiet && !options.json;
  run->target = CreateNotifyTarget();
  if (!ScanNextPaths(run.get()) && (run->threadFailed || !StartFix(run.get()))) {
    DestroyNotifyTarget(run->target);
    EndRunJournal(run->journal);
    if (run->refusedToStart)
      return kExitUsage;
    WriteMessage(options.json, "error", "could not start a thread");
    return kExitSomeFailed;
  }
  RunNotificationLoop(run->target, HandleNotification, run.get());
  JoinWorkerThread(run->scanThread);
  JoinWorkerThread(run->fixThread);
  DestroyNotifyTarget(run->target);
  // A file saved in part is saved again (its second part), after every
  // other save and before the names change.
  if (!run->secondPass.empty() && !run->refusedToStart) {
    const std::vector<PathString> again = std::move(run->secondPass);
    RunFollowUp(run.get(), RunState::Phase::kSecondPass, &again, nullptr);
  }
  // Names come after every tag save of the run is committed, under the
  // same journal, so that an undo takes the names back before the tags.
  RenameCounts renames;
  const RenameReport renameReport = NameReport(*run);
  if (options.rename && !run->refusedToStart && !run->threadFailed && !run->stop->load())
    renames = RenameBelow(*run, renameReport);
  EndRunJournal(run->journal);

  ClearProgress(run.get());
  if (run->refusedToStart)
    return kExitUsage;
  if (run->threadFailed)
    WriteMessage(options.json, "error", "could not start a thread");
  const bool stopped = run->stop->load();
  ReportSummary(*run, stopped);
  if (options.rename && !stopped)
    ReportRenameSummary(renames, renameReport);
  FlushOut();
  if (stopped) {
    WriteMessage(options.json, "notice", "stopped; files not reached were left as they are");
    return kExitStopped;
  }
  if (run->threadFailed)
    return kExitSomeFailed;
  return run->failedCount || renames.left ? kExitSomeFailed : kExitOk;
}
