// Repairing the names of files and folders below the paths of a run: the
// plan (what each name reads as, decided per folder), and the renames that
// carry it out safely under the run journal.
//
// Calling sequence, after every tag save of the run is committed:
//   PlanRenames          walks the folders and decides every name;
//   (PlannedPath         tells where a file of the plan will be, for others
//                        that hold paths, before anything is renamed;)
//   CarryOutRenames      records the plan's renames in the run journal,
//                        flushed, renames deepest entries first, flushes the
//                        folders, then writes the commit mark.
// Undo: UndoRename for each recorded rename, last first, before the run's
// tag saves are restored by the paths they were recorded under.
//
// Invariants:
//   M1  The paths given are never renamed, only what is below them.
//   M2  A rename never replaces an existing entry (RenameWithoutReplacing);
//       two names that would read as one, or a repaired name that an entry
//       already has, rename neither and are reported with both paths.
//   M3  A repaired name whose UTF-8 form is longer than 255 bytes is left
//       and reported.
//   M4  Every entry of a folder is renamed before the folder itself, so that
//       each rename's paths hold the folders above as they were.
//   M5  With a journal, every rename is recorded and flushed before the
//       first rename, and a commit mark follows once the folders holding
//       them are flushed; a crash between leaves every entry with its old
//       name or its new one (recovery leaves both as they are).
//   M7  Nothing is renamed after a batch of tag saves left without its
//       commit mark (JournalSettled), so that the renames' mark never covers
//       saves that recovery must still bring back.
//   M6  Right names (see engine/names/name-decide.h, N1) are never in a plan.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/commit/journal.h"
#include "engine/platform/platform.h"

// Pages decided for the tags of each folder (as the scan builds its path),
// in automatic mode from the albums' decisions; `page` for every folder
// when one page was named for the run.
struct NameEvidence {
  std::map<PathString, std::vector<unsigned>> folderPages;
  unsigned page = 0;
};

// A name that is not renamed although it reads differently.
struct RenameProblem {
  PathString path;   // the entry, as it is
  PathString to;     // the path it would take
  PathString other;  // the entry in the way; empty when none
  std::string reason;
};

struct RenamePlan {
  // Old full path -> new full path in the same folder, in the order they
  // are done (M4): the folders above each are as they were before the run.
  std::vector<std::pair<PathString, PathString>> renames;
  std::vector<bool> isFolder;  // per rename
  std::vector<RenameProblem> problems;
};

RenamePlan PlanRenames(const std::vector<PathString>& folders, const NameEvidence& evidence,
                       const std::atomic<bool>* stop);

// Where `path` (as it is before the renames) will be once the plan is
// carried out: every renamed folder above it and its own new name applied.
PathString PlannedPath(const RenamePlan& plan, const PathString& path);

// How one rename of the plan went.
struct RenameOutcome {
  bool renamed = false;
  std::string reason;  // when not renamed
};

// Carries out the plan (journal may be null: the renames are still safe but
// cannot be undone). Returns one outcome per rename; false when the renames
// could not be recorded (then none is done) or the run was stopped.
bool CarryOutRenames(const RenamePlan& plan, RunJournal* journal, const std::atomic<bool>* stop,
                     std::vector<RenameOutcome>* outcomes);

// How an undo left one recorded rename.
enum class NameRestore { kRestored, kAlready, kGone, kLeft };
NameRestore UndoRename(const JournalRename& rename, std::string* reason);
