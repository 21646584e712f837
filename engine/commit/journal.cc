// The run journal as a run writes it: begin, one record per save of a
// batch, commit marks, end; with pruning of old kept journals. The file
// format lives in journal-format.cc, reading journals back in
// journal-read.cc, the recovery of runs cut short in journal-recover.cc.
#include "engine/commit/journal-read.h"
#include "engine/commit/journal-recover.h"
#include "engine/commit/journal.h"

#include <chrono>
#include <algorithm>
#include <ctime>
#include <set>

#include "engine/platform/disk.h"
#include "engine/commit/journal-format.h"
#include "engine/platform/path.h"

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

// Drops kept journals older than kKeptSeconds and all but the newest
// kKeptRuns - 1, so that a new run's journal (`own`, when it exists
// already) is among the kept.
void PruneKeptRuns(const PathString& stateFolder, std::int64_t now, const PathString& own) {
  std::vector<JournalRun> runs = ReadJournalRuns(stateFolder, JournalDepth::kHeader);
  runs.erase(std::remove_if(runs.begin(), runs.end(),
                            [&own](const JournalRun& run) { return run.file == own; }),
             runs.end());
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

// --- Recording ---------------------------------------------------------------

struct RunJournal {
  PathString stateFolder;
  std::vector<PathString> paths;  // absolute
  bool keep = true;
  std::int64_t started = 0;
  PathString name;
  std::string id;
  NativeFile* file = nullptr;
  std::uint64_t length = 0;
  bool failed = false;
  std::wstring failure;  // why it failed, in words
  bool commitUnflushed = false;
  std::size_t recorded = 0;    // save records written
  std::size_t batchStart = 0;  // the index of the last batch's first save
};

namespace {
bool ReadyForRecords(RunJournal* journal);
}  // namespace

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
  auto* journal = new RunJournal;
  journal->stateFolder = stateFolder;
  for (const PathString& path : paths)
    journal->paths.push_back(AbsolutePath(path));
  journal->keep = keep;
  journal->started = Now();
  // A run that finishes another's files is recorded from the start, so
  // that the run it finishes can name it (J3).
  if (keep && AnyRunCutShort(stateFolder) && !ReadyForRecords(journal)) {
    journal->failed = false;  // tried again with the first batch
    journal->failure.clear();
  }
  RecoverUnfinishedRuns(stateFolder, journal->id);
  if (keep)
    PruneKeptRuns(stateFolder, journal->started, journal->name);
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
    journal->id = text;
  }
  if (!journal->file) {
    journal->name.clear();
    journal->id.clear();
    return false;
  }
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

// Notes that the journal failed, and the first reason why.
void Fail(RunJournal* journal) {
  if (!journal->failed || journal->failure.empty())
    journal->failure = LastDiskFailure();
  journal->failed = true;
}

// The journal file, made with the first records; false once it failed.
bool ReadyForRecords(RunJournal* journal) {
  if (journal->failed || (!journal->file && !CreateJournalFile(journal))) {
    Fail(journal);
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
    Fail(journal);
    return false;
  }
  journal->length += data.size();
  journal->commitUnflushed = false;
  return true;
}

bool JournalFailed(const RunJournal* journal, std::wstring* reason) {
  if (reason)
    *reason = journal ? journal->failure : std::wstring();
  return journal && journal->failed;
}

bool JournalRunGoing(const JournalRun& run) {
  NativeFile* file = OpenExistingFile(run.file, false);
  const bool going = file && !TryLockFile(file);
  CloseNativeFile(file);
  return going;
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
    Fail(journal);
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
    Fail(journal);
    return false;
  }
  journal->length += mark.size();
  journal->commitUnflushed = true;
  return true;
}
