// The run journal as a run writes it: begin, one record per save of a
// batch, commit marks, end; with recovery of the batches a cut-short run
// left unfinished and pruning of old kept journals. The file format lives
// in journal-format.cc, reading journals back in journal-read.cc.
#include "engine/journal.h"

#include <chrono>
#include <ctime>
#include <set>

#include "engine/disk.h"
#include "engine/journal-format.h"
#include "engine/path.h"
#include "engine/save.h"

namespace {

constexpr int kKeptRuns = 20;
constexpr std::int64_t kKeptSeconds = 30 * 24 * 3600;

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string FormatTime(std::int64_t seconds, const char* format) {
  const std::time_t time = std::time_t(seconds);
  char text[64] = {};
  std::strftime(text, sizeof text, format, std::gmtime(&time));
  return text;
}

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

bool AppendAndFlush(const PathString& file, const std::string& data) {
  NativeFile* handle = OpenExistingFile(file, true);
  if (!handle)
    return false;
  std::uint64_t size = 0;
  const bool ok = FileSizeOf(handle, &size) &&
                  WriteFileAt(handle, size, data.data(), data.size()) && FlushNativeFile(handle);
  CloseNativeFile(handle);
  return ok;
}

// Brings the unfinished batches of one journal that no running run holds
// to their originals or complete repairs. False when a file could not be
// brought back.
bool RecoverJournal(const PathString& file) {
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
  bool recovered = true;
  // Each save's original bytes are read as its file is recovered.
  for (std::size_t i = content.saves.size(); i > content.committed; --i) {
    JournalSave save = content.saves[i - 1];
    if (!ReadJournalSave(file, save.recordAt, &save) ||
        !RecoverRecordedSave(save.path, save.record))
      recovered = false;
  }
  bool marked = true;
  if (!recovered) {
    marked = false;
  } else if (scratch) {
    unlock();
    RemoveFileIfPresent(file);
  } else if (content.tagged && (content.committed < content.saves.size() ||
                                 content.renamesCommitted < content.renames.size())) {
    marked = AppendAndFlush(file, CommitMarkRecord());
  }
  unlock();
  return marked;
}

// Drops kept journals older than kKeptSeconds and all but the newest
// kKeptRuns - 1, so that a new run's journal is among the kept.
void PruneKeptRuns(const PathString& stateFolder, std::int64_t now) {
  std::vector<JournalRun> runs = ReadJournalRuns(stateFolder, JournalDepth::kHeader);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const bool tooMany = runs.size() - i >= std::size_t(kKeptRuns);
    if (tooMany || now - runs[i].started > kKeptSeconds)
      RemoveFileIfPresent(runs[i].file);
  }
}

}  // namespace

PathString AbsolutePath(const PathString& path) {
  // The current folder is asked for only when it is needed.
  return AbsolutePathFrom(IsAbsolutePath(path) ? PathString() : CurrentFolder(), path);
}

bool RecoverUnfinishedRuns(const PathString& stateFolder) {
  if (stateFolder.empty())
    return true;
  bool allRecovered = true;
  for (const PathString& file : JournalFiles(stateFolder, {kJournalSuffix, kScratchSuffix})) {
    if (!RecoverJournal(file))
      allRecovered = false;
  }
  return allRecovered;
}

// --- Recording ---------------------------------------------------------------

struct RunJournal {
  PathString stateFolder;
  std::vector<PathString> paths;  // absolute
  bool keep = true;
  std::int64_t started = 0;
  PathString name;
  NativeFile* file = nullptr;
  std::uint64_t length = 0;
  bool failed = false;
  bool commitUnflushed = false;
  std::size_t recorded = 0;    // save records written
  std::size_t batchStart = 0;  // the index of the last batch's first save
};

bool StateFolderWritable(const PathString& stateFolder) {
  if (stateFolder.empty())
    return false;
  const PathString folder = RunsFolder(stateFolder);
  if (!CreateFolders(folder))
    return false;
  // A name no journal listing takes up, made new so that the probe of
  // another run starting now is never written over.
  const std::string stamp = "write-probe-" + std::to_string(Now());
  for (int attempt = 1; attempt < 100; ++attempt) {
    const std::string name = stamp + "-" + std::to_string(attempt) + ".probe";
    const PathString probe = JoinPath(folder, PathString(name.begin(), name.end()));
    NativeFile* file = CreateNewFile(probe);
    if (!file)
      continue;
    const bool written = WriteFileAt(file, 0, "-", 1);
    CloseNativeFile(file);
    RemoveFileIfPresent(probe);
    return written;
  }
  return false;
}

RunJournal* BeginRunJournal(const PathString& stateFolder, const std::vector<PathString>& paths,
                            bool keep) {
  if (stateFolder.empty())
    return nullptr;
  RecoverUnfinishedRuns(stateFolder);
  const std::int64_t now = Now();
  if (keep)
    PruneKeptRuns(stateFolder, now);
  auto* journal = new RunJournal;
  journal->stateFolder = stateFolder;
  for (const PathString& path : paths)
    journal->paths.push_back(AbsolutePath(path));
  journal->keep = keep;
  journal->started = now;
  return journal;
}

void EndRunJournal(RunJournal* journal) {
  if (!journal)
    return;
  if (journal->file && journal->commitUnflushed && !journal->failed)
    FlushNativeFile(journal->file);
  CloseNativeFile(journal->file);
  // A scratch journal whose batches all finished has done its work.
  if (!journal->keep && journal->file && journal->commitUnflushed && !journal->failed)
    RemoveFileIfPresent(journal->name);
  delete journal;
}

namespace {

// The ids (names less their suffixes) of the journals in the runs folder,
// whatever became of their runs: an undone run keeps its id.
std::set<PathString> TakenRunIds(const PathString& stateFolder) {
  std::set<PathString> ids;
  for (const PathString& file : JournalFiles(
           stateFolder, {kJournalSuffix, kUndoneSuffix, kPartlyUndoneSuffix, kScratchSuffix})) {
    const PathString name = file.substr(NameStartOf(file));
    ids.insert(name.substr(0, SuffixStart(name)));
  }
  return ids;
}

bool CreateJournalFile(RunJournal* journal) {
  const PathString folder = RunsFolder(journal->stateFolder);
  CreateFolders(folder);
  const std::string stamp = FormatTime(journal->started, "%Y%m%d-%H%M%S");
  const PathString suffix = journal->keep ? kJournalSuffix : kScratchSuffix;
  // Runs started within the same second take the stamp with a number: an id
  // names one run only, even once an earlier run of that second is undone.
  const std::set<PathString> taken = TakenRunIds(journal->stateFolder);
  for (int attempt = 1; attempt < 1000 && !journal->file; ++attempt) {
    const std::string text = attempt == 1 ? stamp : stamp + "-" + std::to_string(attempt);
    const PathString id(text.begin(), text.end());
    if (taken.count(id))
      continue;
    journal->name = JoinPath(folder, id) + suffix;
    journal->file = CreateNewFile(journal->name);
  }
  if (!journal->file)
    return false;
  // Held while the run lasts, so that another run's recovery leaves it be.
  TryLockFile(journal->file);
  // The journal's name must outlast a power loss as its records do: a save
  // whose record vanished with the name could not be undone or recovered.
  FlushFolder(folder);
  FlushFolder(journal->stateFolder);
  const std::string data = EncodeJournalHeader(journal->started, journal->paths);
  journal->length = data.size();
  return WriteFileAt(journal->file, 0, data.data(), data.size());
}

}  // namespace

namespace {

// The journal file, made with the first records; false once it failed.
bool ReadyForRecords(RunJournal* journal) {
  if (journal->failed || (!journal->file && !CreateJournalFile(journal))) {
    journal->failed = true;
    return false;
  }
  return true;
}

}  // namespace

bool JournalRecords(RunJournal* journal, const std::string& data) {
  if (!ReadyForRecords(journal))
    return false;
  // On disk before the first change it covers.
  if (!WriteFileAt(journal->file, journal->length, data.data(), data.size()) ||
      !FlushNativeFile(journal->file)) {
    journal->failed = true;
    return false;
  }
  journal->length += data.size();
  journal->commitUnflushed = false;
  return true;
}

bool JournalSettled(const RunJournal* journal) {
  return !journal->failed && (journal->recorded == 0 || journal->commitUnflushed);
}

bool JournalBatch(RunJournal* journal, const std::vector<JournalSave>& saves) {
  if (!ReadyForRecords(journal))
    return false;
  // Written as encoded, a few records at a time, so that a batch of large
  // tags is not held a second time; flushed once, on disk before the first
  // save it covers.
  constexpr std::size_t kWrittenAtOnce = 1024 * 1024;
  std::string data;
  std::uint64_t length = journal->length;
  bool written = true;
  for (std::size_t i = 0; i < saves.size() && written; ++i) {
    AppendSave(&data, AbsolutePath(saves[i].path), saves[i].record);
    if (data.size() >= kWrittenAtOnce || i + 1 == saves.size()) {
      written = WriteFileAt(journal->file, length, data.data(), data.size());
      length += data.size();
      data.clear();
    }
  }
  if (!written || !FlushNativeFile(journal->file)) {
    journal->failed = true;
    return false;
  }
  journal->length = length;
  journal->commitUnflushed = false;
  journal->batchStart = journal->recorded;
  journal->recorded += saves.size();
  return true;
}

bool JournalCommit(RunJournal* journal, const std::vector<std::size_t>& unsaved) {
  if (journal->failed || !journal->file)
    return false;
  // The saves that did not happen go before the mark, in the same write:
  // a mark read back always has them.
  std::string mark;
  for (std::size_t index : unsaved)
    mark += UnsavedRecord(journal->batchStart + index);
  mark += CommitMarkRecord();
  if (!WriteFileAt(journal->file, journal->length, mark.data(), mark.size())) {
    journal->failed = true;
    return false;
  }
  journal->length += mark.size();
  journal->commitUnflushed = true;
  return true;
}
