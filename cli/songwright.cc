// The command line: runs the engine exactly as the wizard does (scan thread,
// then the fix thread started when the scan's completion arrives, every
// notification handled in order on the main thread) and reports on stdout.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/auto.h"
#include "cli/console.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/run-state.h"
#include "cli/rename.h"
#include "cli/show.h"
#include "cli/suggest.h"
#include "cli/undo.h"
#include "engine/platform/disk.h"
#include "engine/engine.h"
#include "engine/commit/journal.h"
#include "engine/formats/format.h"
#include "engine/names/playlist.h"
#include "engine/commit/run-lock.h"
#include "engine/platform/path.h"
#include "engine/platform/text.h"
#include "engine/threads.h"

namespace {

const char kVersion[] = "songwright 1.0.0";

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

}  // namespace

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

static bool StartFix(RunState* run) {
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
static bool CheckPaths(const std::vector<PathString>& paths, std::vector<RunPath>* checked, int* status) {
  for (const PathString& path : paths) {
    RunPath entry;
    entry.path = path;
    if (path.empty()) {
      *status = UsageError("a PATH is empty");
      return false;
    }
    entry.isFolder = IsExistingFolder(path);
    // A named pipe or a link to nothing is taken as a file, and reported
    // as the scan reports it.
    if (!entry.isFolder && !IsExistingFile(path) && NotAFileReason(path).empty()) {
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
    return ListRuns(StateFolder(), options.undoTarget, options.json);
  if (options.undo)
    return UndoRun(StateFolder(), options.undoTarget, InstallStopHandler(), options.json);
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
  std::wstring journalFailure;
  const bool journalFailed = JournalFailed(run->journal, &journalFailure);
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
  // The state folder could not take the run's records, whatever the reason:
  // as when it is found unwritable before the run.
  if (journalFailed) {
    WriteMessage(options.json, "error",
                 "cannot write the state folder " + QuotedPath(StateFolder()) +
                     ", where a run is recorded so that --undo can take it back" +
                     (journalFailure.empty() ? std::string()
                                             : ": " + ShowText(WideToUtf8(journalFailure))) +
                     "; the files whose saves it could not record were left as they are");
    return kExitUsage;
  }
  if (run->threadFailed)
    return kExitSomeFailed;
  // A name left as it is with its note (in the way of another, too long)
  // is no failure.
  return run->failedCount || renames.failed ? kExitSomeFailed : kExitOk;
}
