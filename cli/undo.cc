#include "cli/undo.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "cli/console.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/run-list.h"
#include "cli/show.h"
#include "engine/commit/checksum.h"
#include "engine/platform/disk.h"
#include "engine/commit/journal-read.h"
#include "engine/commit/journal-recover.h"
#include "engine/commit/journal.h"
#include "engine/commit/run-lock.h"
#include "engine/platform/path.h"
#include "engine/names/rename.h"
#include "engine/commit/edit.h"
#include "engine/commit/side-journal.h"

namespace {

// As the run showed it: below the folder when it was given one folder.
PathString ShownPath(const JournalRun& run, const PathString& path) {
  const PathString& folder = run.paths.front();
  const bool below = run.paths.size() == 1 && path.size() > folder.size() + 1 &&
                     path.compare(0, folder.size(), folder) == 0 &&
                     path[folder.size()] == kPathSeparator;
  return below ? path.substr(folder.size() + 1) : path;
}

std::string Plural(std::size_t count, const char* one) {
  return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

// --- One file ------------------------------------------------------------------

// How the undo left one file.
enum class Restore {
  kRestored,  // put back as it was before the run
  kAlready,   // already as before the run (an undo cut short, or by hand)
  kGone,      // deleted since the run: nothing to put back
  kLeft,      // left as it is: changed since the run, or not writable
};

struct UndoCounts {
  std::size_t restored = 0, already = 0, gone = 0, left = 0;
  std::size_t namesBack = 0, namesLeft = 0;  // renames of the run
};

// Puts one save's file back, byte for byte, when it is as the run left it;
// `reason` says why a file was left. The original bytes are moved into the
// restoring edit.
Restore RestoreSave(JournalSave& saved, std::string* reason) {
  SaveRecord& record = saved.record;
  std::uint64_t size = 0;
  std::uint32_t asRepaired = 0, asOriginal = 0;
  const PathString target = ResolveFileLinks(saved.path);
  *reason = "Couldn't open file";
  if (!RecoverInterruptedSave(target))
    return Restore::kLeft;
  // One open serves the checksums and the save that puts the file back.
  EditStream stream(saved.path, target);
  NativeFile* file = stream.OriginalFile();
  if (!file) {
    if (EntryExists(target))
      return Restore::kLeft;
    *reason = "deleted since the run";
    return Restore::kGone;
  }
  const bool repaired =
      FileChecksum(file, record.offset, record.repairedLength, &size, &asRepaired) &&
      size == record.repairedSize && asRepaired == record.repairedChecksum;
  const bool original =
      !repaired &&
      FileChecksum(file, record.offset, record.originalBytes.size(), &size, &asOriginal) &&
      size == record.originalSize && asOriginal == record.originalChecksum;
  if (original)
    return Restore::kAlready;
  if (!repaired) {
    *reason = "changed since the run";
    return Restore::kLeft;
  }
  stream.Replace(record.offset, record.repairedLength, std::move(record.originalBytes));
  if (!record.sizeFieldOriginal.empty())
    stream.ReplaceSizeField(record.sizeFieldAt, std::move(record.sizeFieldOriginal));
  *reason = "Couldn't save changes";
  return stream.CommitEdits() ? Restore::kRestored : Restore::kLeft;
}

// One file of an undo, as it was left.
void ReportRestore(bool json, const PathString& shown, Restore how, const std::string& reason) {
  static const char* const kWords[] = {"restored", "already as before", "left alone", "left alone"};
  const char* word = kWords[int(how)];
  const bool left = how == Restore::kGone || how == Restore::kLeft;
  if (json) {
    WriteOut("{\"type\":\"file\"," + JsonPath("file", shown) + ",\"outcome\":\"" + word + "\"" +
             (left ? ",\"issue\":" + JsonString(reason) : std::string()) + "}\n");
  } else {
    WriteOut(std::string(word) + "\t" + ShowPath(shown) + (left ? "\t" + reason : "") + "\n");
  }
}

// "Restored 3 files, 1 already as before, left 2 files as they are (1
// deleted since the run)".
std::string UndoSummary(const UndoCounts& counts) {
  std::string summary = "Restored " + Plural(counts.restored, "file");
  if (counts.already)
    summary += ", " + std::to_string(counts.already) + " already as before";
  if (counts.left + counts.gone) {
    summary += ", left " + Plural(counts.left + counts.gone, "file") + " as they are";
    if (counts.gone)
      summary += " (" + std::to_string(counts.gone) + " deleted since the run)";
  }
  if (counts.namesBack)
    summary += ", gave " + Plural(counts.namesBack, "name") + " back";
  if (counts.namesLeft)
    summary += ", left " + Plural(counts.namesLeft, "name") + " as they are";
  return summary;
}

}  // namespace

// --- Undoing -----------------------------------------------------------------

namespace {

// One name of an undo: "renamed back<TAB>name now<TAB>name before the run",
// or "left alone" and why.
void ReportName(const JournalRun& run, bool json, const JournalRename& rename, NameRestore how,
                const std::string& reason) {
  const bool left = how == NameRestore::kGone || how == NameRestore::kLeft;
  const char* word = how == NameRestore::kRestored ? "renamed back"
                     : how == NameRestore::kAlready ? "already as before"
                                                     : "left alone";
  if (how == NameRestore::kAlready)
    return;  // nothing the run left to undo
  const PathString now = ShownPath(run, rename.to), before = ShownPath(run, rename.from);
  if (json) {
    WriteOut("{\"type\":\"rename\"," + JsonPath("old", before) + "," + JsonPath("new", now) +
             ",\"outcome\":\"" + word + "\"" +
             (left ? ",\"issue\":" + JsonString(reason) : std::string()) + "}\n");
    return;
  }
  WriteOut(std::string(word) + "\t" + ShowPath(now) + "\t" +
           ShowPath(before.substr(NameStartOf(before))) + (left ? "\t" + reason : "") + "\n");
}

// Gives every name the run changed its old name back, last rename first
// (a folder's own name before the names inside it); false when stopped.
bool RestoreNames(const JournalRun& run, const std::atomic<bool>* stop, bool json,
                  UndoCounts* counts) {
  for (auto rename = run.renames.rbegin(); rename != run.renames.rend(); ++rename) {
    if (stop && stop->load())
      return false;
    std::string reason;
    const NameRestore how = UndoRename(*rename, &reason);
    if (how == NameRestore::kRestored)
      ++counts->namesBack;
    else if (how == NameRestore::kLeft)
      ++counts->namesLeft;
    ReportName(run, json, *rename, how, reason);
  }
  return true;
}

// Restores every file the run changed, last save first (a file saved twice
// goes back one save at a time); false when stopped. The names go back
// first: the saves were recorded under the names before the run.
bool RestoreRun(const JournalRun& run, const std::atomic<bool>* stop, bool json,
                UndoCounts* counts) {
  if (!RestoreNames(run, stop, json, counts))
    return false;
  // Side journals are looked for by listing each folder once.
  BeginSideFileIndex();
  for (auto saved = run.saves.rbegin(); saved != run.saves.rend(); ++saved) {
    if (stop && stop->load())
      break;
    // A save whose file could not be written changed nothing to put back.
    if (!saved->saved)
      continue;
    // One save's original bytes at a time, read from the journal.
    JournalSave save = *saved;
    std::string reason = "its record in the run's journal cannot be read";
    const Restore how = ReadJournalSave(run.file, saved->recordAt, &save)
                            ? RestoreSave(save, &reason)
                            : Restore::kLeft;
    ++(how == Restore::kRestored  ? counts->restored
       : how == Restore::kAlready ? counts->already
       : how == Restore::kGone    ? counts->gone
                                  : counts->left);
    ReportRestore(json, ShownPath(run, saved->path), how, reason);
  }
  EndSideFileIndex();
  return !(stop && stop->load());
}

void ReportUndo(const JournalRun& run, const UndoCounts& counts, bool stopped, bool json) {
  const std::string summary = UndoSummary(counts);
  if (!json) {
    WriteOut(summary + "\n");
    return;
  }
  const char* state = stopped                             ? UndoneState(run)
                      : counts.left + counts.namesLeft > 0 ? "partly undone"
                                                           : "undone";
  WriteOut("{\"type\":\"summary\",\"summary\":" + JsonString(summary) +
           ",\"run\":" + JsonString(run.id) + ",\"restored\":" + std::to_string(counts.restored) +
           ",\"left_alone\":" + std::to_string(counts.left + counts.gone) + ",\"already\":" +
           std::to_string(counts.already) + ",\"deleted\":" + std::to_string(counts.gone) +

           ",\"stopped\":" + (stopped ? "true" : "false") + ",\"state\":\"" + state + "\"" +
           (run.renames.empty() ? std::string()
                                : ",\"names_back\":" + std::to_string(counts.namesBack) +
                                      ",\"names_left\":" + std::to_string(counts.namesLeft)) +
           "}\n");
}

}  // namespace

int UndoRun(const PathString& stateFolder, const PathString& target,
            const std::atomic<bool>* stop, bool json) {
  // Batches a run left unfinished are finished first.
  RecoverUnfinishedRuns(stateFolder);
  std::vector<JournalRun> runs = ReadJournalRuns(stateFolder, JournalDepth::kHeader);
  int status = 0;
  bool byPath = false;
  JournalRun* run = ChooseRun(&runs, target, json, &status, &byPath);
  if (!run)
    return status;
  if (json)
    WriteOut(JsonRun(*run, runs));
  // The last run (over a path) is undone once; an older one only by its id.
  if ((target.empty() || byPath) && run->undone) {
    const std::string which =
        byPath ? "The last run over " + QuotedPath(target) : std::string("The last run");
    WriteMessage(json, "error",
                 which + " (" + RunLabel(*run, json) + ") was already " +
                     (run->partlyUndone ? "partly undone; try its files left as they are again "
                                          "with --undo " +
                                              (json ? run->id : ShowText(run->id)) + ", or name"
                                        : "undone; name") +
                     " an older one with --undo ID (see --list-runs)");
    return kExitAlreadyUndone;
  }
  if (run->undone && !run->partlyUndone) {
    if (json) {
      WriteOut("{\"type\":\"summary\",\"summary\":\"Nothing to restore\",\"run\":" +
               JsonString(run->id) +
               ",\"restored\":0,\"already_undone\":true,\"state\":\"undone\"}\n");
    } else {
      WriteOut("Run " + RunLabel(*run, false) + " was already undone; nothing to restore\n");
    }
    return 0;
  }
  // The run's files are not undone while another run works on them.
  PathString busy;
  std::unique_ptr<RunLocks, void (*)(RunLocks*)> locks(LockRunPaths(run->paths, &busy),
                                                       UnlockRunPaths);
  if (!locks)
    return BusyError(json, busy);
  if (!json)
    WriteOut("Undoing run " + RunLabel(*run, false) + "\n");
  UndoCounts counts;
  const bool finished = RestoreRun(*run, stop, json, &counts);
  ReportUndo(*run, counts, !finished, json);
  if (!finished)
    return 130;
  // Every file restored or reported: the run is not offered again by
  // itself. Files left as they are (not deleted ones) make it partly undone.
  const bool left = counts.left + counts.namesLeft > 0;
  MarkJournalRunUndone(*run, left);
  return left ? 1 : 0;
}
