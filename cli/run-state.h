// The state of one command-line run, shared by the run itself
// (songwright.cc), its reporting (report.cc) and the jobs that follow the
// main one (follow-up.cc). Everything here runs on the main thread, in the
// order the notifications arrive.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/rename.h"
#include "engine/engine.h"
#include "engine/commit/journal.h"
#include "engine/names/playlist.h"

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

// Progress on stderr, when it is a terminal: the scan's count, then the
// fix's bar. ClearProgress takes the line away before other output.
void ClearProgress(RunState* run);
void DrawProgress(RunState* run, bool force);
// The progress line: the scan's count, then "Fixing song titles..." (in a
// preview "Previewing...") with the bar.
std::string ProgressLine(const RunState& run);

// The folder album folders are named below, and a path as shown.
PathString AlbumBase(const RunState& run);
PathString ShownPath(const RunState& run, const PathString& path);

void ReportOutcome(RunState* run, const FileOutcome& outcome, unsigned message);
void ReportUnreadableFolder(RunState* run, const ScanProblem& problem);
void ReportSummary(const RunState& run, bool stopped);
void DescribeRun(const RunState& run);

// The fix job over `files` with the run's settings.
FixJob* NewFixJob(const RunState& run, const std::vector<PathString>* files);
// The main thread's handler of every notification of the run.
bool HandleNotification(void* context, const Notification& notification);

// The jobs after the main one.
RenameReport NameReport(const RunState& run);
void RunFollowUp(RunState* run, RunState::Phase phase, const std::vector<PathString>* files,
                 const PlaylistRenames* renames);
RenameCounts RenameBelow(RunState& run, const RenameReport& report);
