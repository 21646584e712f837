// Recovery of the runs cut short: every save of a batch without its commit
// mark brought to its original or its complete repair, and the journal
// marked finished, naming the run that finished it (J1 to J3 in
// engine/commit/journal.h).
#include <string>
#include <vector>

#include "engine/platform/disk.h"
#include "engine/commit/journal-format.h"
#include "engine/commit/journal-read.h"
#include "engine/commit/journal-recover.h"
#include "engine/commit/journal.h"
#include "engine/commit/recovery.h"
#include "engine/commit/edit.h"

namespace {

// True when the journal ends with a commit mark: nothing to recover. Read
// from its end alone, so that runs that ended well cost one small read.
bool EndsFinished(const PathString& file) {
  NativeFile* handle = OpenExistingFile(file, false);
  if (!handle)
    return true;
  const std::string mark = CommitMarkRecord();
  std::uint64_t size = 0;
  std::string tail;
  const bool finished = FileSizeOf(handle, &size) && size >= mark.size() &&
                        ReadAt(handle, size - mark.size(), mark.size(), &tail) && tail == mark;
  CloseNativeFile(handle);
  return finished;
}

// Writes `data` at `at`, the end of the journal's last whole record (a
// record torn by the crash goes: no save it would cover was begun), and
// flushes it.
bool WriteEndAndFlush(const PathString& file, std::uint64_t at, const std::string& data) {
  NativeFile* handle = OpenExistingFile(file, true);
  if (!handle)
    return false;
  std::uint64_t size = 0;
  const bool ok = FileSizeOf(handle, &size) && WriteFileAt(handle, at, data.data(), data.size()) &&
                  (size <= at + data.size() || TruncateNativeFile(handle, at + data.size())) &&
                  FlushNativeFile(handle);
  CloseNativeFile(handle);
  return ok;
}

// Brings every save after the last commit mark to its original or its
// complete repair; `original` gets the places of those left original (J1).
// False when a file could not be brought back.
bool RecoverSaves(const PathString& file, const JournalContent& content,
                  std::vector<std::size_t>* original) {
  bool recovered = true;
  // Each save's original bytes are read as its file is recovered.
  for (std::size_t i = content.saves.size(); i > content.committed; --i) {
    JournalSave save = content.saves[i - 1];
    bool leftOriginal = false;
    if (!ReadJournalSave(file, save.recordAt, &save) ||
        !RecoverRecordedSave(save.path, save.record, &leftOriginal))
      recovered = false;
    else if (leftOriginal)
      original->push_back(i - 1);
  }
  return recovered;
}

// Brings the unfinished batches of one journal that no running run holds
// to their originals or complete repairs, and names `finisher` in it. False
// when a file could not be brought back.
bool RecoverJournal(const PathString& file, const std::string& finisher) {
  const bool scratch = HasSuffix(file, kScratchSuffix);
  // A run that is still going holds its journal's lock: its batches are
  // its own to finish. The lock is held here until this one is done.
  NativeFile* lock = OpenExistingFile(file, false);
  if (!lock || !TryLockFile(lock)) {
    CloseNativeFile(lock);
    return true;
  }
  const auto unlock = [&lock] {
    CloseNativeFile(lock);
    lock = nullptr;
  };
  if (EndsFinished(file)) {
    unlock();
    if (scratch)
      RemoveFileIfPresent(file);
    return true;
  }
  JournalRun run;
  JournalContent content;
  if (!ReadJournalFile(file, JournalDepth::kIndex, &run, &content)) {
    // No header: the journal was torn before any record, so before any
    // save it would cover.
    unlock();
    RemoveFileIfPresent(file);
    return true;
  }
  // Renames after the last commit mark are left as they are: each entry
  // holds its old name or its new one, never both nor neither, and either
  // is original or repair; --undo puts back the new ones it finds.
  std::vector<std::size_t> original;
  const bool recovered = RecoverSaves(file, content, &original);
  bool marked = true;
  if (!recovered) {
    marked = false;
  } else if (scratch) {
    unlock();
    RemoveFileIfPresent(file);
  } else if (content.tagged && (content.committed < content.saves.size() ||
                                 content.renamesCommitted < content.renames.size())) {
    // The saves left original are the run's no more (J1), and the run
    // names the one that finished it (J3), all before the mark.
    std::string records;
    for (std::size_t index : original)
      records += UnsavedRecord(index);
    marked = WriteEndAndFlush(file, content.end,
                              records + FinishedRecord(finisher) + CommitMarkRecord());
  }
  unlock();
  return marked;
}

}  // namespace

bool AnyRunCutShort(const PathString& stateFolder) {
  for (const PathString& file : JournalFiles(stateFolder, {kJournalSuffix})) {
    JournalRun run;
    if (!EndsFinished(file) && ReadJournalRun(file, JournalDepth::kCount, &run) &&
        run.interrupted)
      return true;
  }
  return false;
}

bool RecoverUnfinishedRuns(const PathString& stateFolder, const std::string& finisher) {
  if (stateFolder.empty())
    return true;
  bool allRecovered = true;
  for (const PathString& file : JournalFiles(stateFolder, {kJournalSuffix, kScratchSuffix})) {
    if (!RecoverJournal(file, finisher))
      allRecovered = false;
  }
  return allRecovered;
}

