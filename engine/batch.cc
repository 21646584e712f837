// The fix thread's loop, and group commit: the saves of a batch of files are
// journaled and flushed once, written without a flush each, made durable
// together (one flush of each file system, or of each file where the
// platform has no such flush) and marked committed. Where the file system
// can open blocks in a file, a tag that grows is given room before it and the
// audio is never copied; elsewhere the repaired file is written beside the
// original and renamed over it once durable.
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "engine/engine.h"
#include "engine/journal.h"
#include "engine/repair.h"
#include "engine/save.h"

namespace {

bool StopRequested(const FixJob& job) {
  return job.stopRequested && job.stopRequested->load(std::memory_order_relaxed);
}

constexpr std::uint64_t kBlock = 4096;
// Outcomes of files that need nothing wait for their batch too; this many
// at most, so that progress keeps moving and memory stays small.
constexpr std::size_t kMostOutcomesHeld = 1024;

enum class Strategy { kNone, kInPlace, kInsert, kCopy, kSelfDurable };

struct Staged {
  std::unique_ptr<FileOutcome> outcome;
  unsigned message = WM_FIX_NOT_NEEDED;
  std::unique_ptr<EditStream> stream;  // a save waiting for its batch
  SaveRecord record;
  std::uint64_t device = 0, index = 0;
  Strategy strategy = Strategy::kNone;
  NativeFile* writer = nullptr;  // the written file (or copy) until durable
  PathString copyPath;
  bool ok = false;
};

void Fail(Staged* staged) {
  staged->message = WM_FIX_FAILED;
  staged->outcome->issue = kIssueCouldNotSave;
  staged->ok = false;
}

// Writes the copy beside the file; false when it cannot be written or cannot
// take the original's owner and access lists (`secured` then false).
bool WriteCopy(Staged* staged, bool* secured) {
  EditStream& stream = *staged->stream;
  *secured = true;
  staged->copyPath = CopyPathFor(stream.target());
  RemoveFileIfPresent(staged->copyPath);  // left by a run that was cut short
  staged->writer = CreateNewFile(staged->copyPath);
  if (!staged->writer)
    return false;
  const bool written = stream.WriteContent(staged->writer, 0, staged->record.repairedSize, 0) &&
                       TruncateNativeFile(staged->writer, staged->record.repairedSize);
  *secured = written && CopyFileSecurity(stream.OriginalFile(), staged->writer);
  if (written && *secured)
    return true;
  CloseNativeFile(staged->writer);
  staged->writer = nullptr;
  RemoveFileIfPresent(staged->copyPath);
  staged->copyPath.clear();
  return false;
}

// Opens the room a grown tag needs before the audio, where the file system
// can; true when it did. The room is made durable before the tag is written
// into it, so that a crash can never leave the old tag's blocks overwritten
// where the file still reads them as the old tag.
bool InsertRoom(Staged* staged) {
  const SaveRecord& record = staged->record;
  if (record.repairedSize <= record.originalSize || record.offset != 0 ||
      (record.repairedSize - record.originalSize) % kBlock != 0)
    return false;
  staged->writer = OpenExistingFile(staged->stream->target(), true);
  if (staged->writer &&
      InsertFileRange(staged->writer, 0, record.repairedSize - record.originalSize)) {
    staged->strategy = Strategy::kInsert;
    staged->ok = true;
    return true;
  }
  CloseNativeFile(staged->writer);
  staged->writer = nullptr;
  return false;
}

// Writes one save of the batch, not yet durable. A failed write in place is
// taken back at once where it can be; what cannot stays for recovery.
void WriteStaged(Staged* staged, bool* unsettled) {
  EditStream& stream = *staged->stream;
  const SaveRecord& record = staged->record;
  const std::uint64_t grown = record.repairedSize - record.originalSize;
  const bool inserted = staged->strategy == Strategy::kInsert;
  const bool sameSize = record.repairedSize == record.originalSize;
  std::string bytes;
  if (inserted) {
    staged->ok = staged->ok && stream.ReadContentRange(0, record.repairedLength, &bytes) &&
                 WriteFileAt(staged->writer, 0, bytes.data(), bytes.size());
    if (!staged->ok) {
      const bool undone = WriteFileAt(staged->writer, grown, record.originalBytes.data(),
                                      record.originalBytes.size()) &&
                          CollapseFileRange(staged->writer, 0, grown);
      if (!undone)
        *unsettled = true;
      Fail(staged);
    }
    return;
  }
  if (sameSize) {
    staged->strategy = Strategy::kInPlace;
    staged->writer = OpenExistingFile(stream.target(), true);
    if (!staged->writer || !stream.ReadContentRange(record.offset, record.repairedLength, &bytes)) {
      Fail(staged);
      return;
    }
    staged->ok = WriteFileAt(staged->writer, record.offset, bytes.data(), bytes.size());
    if (!staged->ok && !WriteFileAt(staged->writer, record.offset, record.originalBytes.data(),
                                    record.originalBytes.size())) {
      *unsettled = true;
    }
    if (!staged->ok)
      Fail(staged);
    return;
  }
  // A file with several names keeps them, and one whose owner a copy cannot
  // take keeps it: such files are rewritten under a journal of their own.
  bool secured = true;
  if (!HasSeveralLinks(stream.OriginalFile())) {
    staged->strategy = Strategy::kCopy;
    staged->ok = WriteCopy(staged, &secured);
    if (staged->ok || secured) {
      if (!staged->ok)
        Fail(staged);
      return;
    }
  }
  staged->strategy = Strategy::kSelfDurable;
  staged->ok = stream.CommitEdits();
  if (!staged->ok)
    Fail(staged);
}

// Makes the writes of `files` durable: one flush per file system where the
// platform has one, else each file by itself. Files whose flush failed are
// marked failed.
bool MakeDurable(const std::vector<Staged*>& files) {
  std::map<std::uint64_t, bool> fileSystems;  // device: flushed whole
  bool all = true;
  for (Staged* staged : files) {
    auto found = fileSystems.find(staged->device);
    if (found == fileSystems.end())
      found = fileSystems.emplace(staged->device, FlushFileSystemOf(staged->writer)).first;
    if (!found->second && !FlushNativeFile(staged->writer)) {
      Fail(staged);
      all = false;
    }
  }
  return all;
}

// Makes the new names durable: one flush per file system where the platform
// has one, else a flush of each folder (a no-op where a replace is durable
// by itself).
void MakeRenamesDurable(const std::vector<Staged*>& renamed) {
  std::set<std::uint64_t> fileSystems;
  std::set<PathString> folders;
  for (Staged* staged : renamed) {
    if (fileSystems.count(staged->device))
      continue;
    NativeFile* file = OpenExistingFile(staged->stream->target(), false);
    const bool flushed = file && FlushFileSystemOf(file);
    CloseNativeFile(file);
    if (flushed) {
      fileSystems.insert(staged->device);
      continue;
    }
    const PathString& target = staged->stream->target();
    const std::size_t separator = target.find_last_of(PATH_TEXT("/\\"));
    const PathString folder = separator == PathString::npos ? PathString(PATH_TEXT("."))
                                                            : target.substr(0, separator + 1);
    if (folders.insert(folder).second)
      FlushFolder(folder);
  }
}

void CommitBatch(const FixJob& job, std::vector<Staged>* batch) {
  std::vector<JournalSave> saves;
  for (Staged& staged : *batch) {
    if (staged.stream)
      saves.push_back(JournalSave{staged.outcome->path, staged.record});
  }
  if (!saves.empty() && !JournalBatch(job.journal, saves)) {
    for (Staged& staged : *batch) {
      if (staged.stream)
        Fail(&staged);
    }
  } else if (!saves.empty()) {
    bool unsettled = false;
    std::vector<Staged*> inserted, written;
    for (Staged& staged : *batch) {
      if (staged.stream && InsertRoom(&staged))
        inserted.push_back(&staged);
    }
    if (!MakeDurable(inserted))
      unsettled = true;
    for (Staged& staged : *batch) {
      if (!staged.stream)
        continue;
      WriteStaged(&staged, &unsettled);
      if (staged.ok && staged.writer)
        written.push_back(&staged);
    }
    // The copies are durable before they take their files' places, and the
    // new names are durable before the commit mark.
    if (!MakeDurable(written))
      unsettled = true;
    std::vector<Staged*> renamed;
    for (Staged* staged : written) {
      if (staged->strategy != Strategy::kCopy || !staged->ok)
        continue;
      // Windows renames neither an open copy nor over an open file.
      CloseNativeFile(staged->writer);
      staged->writer = nullptr;
      staged->stream->CloseOriginal();
      if (RenameOver(staged->stream->target(), staged->copyPath)) {
        renamed.push_back(staged);
      } else {
        RemoveFileIfPresent(staged->copyPath);
        Fail(staged);
      }
    }
    MakeRenamesDurable(renamed);
    for (Staged& staged : *batch) {
      CloseNativeFile(staged.writer);
      staged.writer = nullptr;
    }
    // A batch that left a file neither original nor repaired is left for
    // recovery at the start of the next run.
    if (!unsettled)
      JournalCommit(job.journal);
  }
  for (Staged& staged : *batch) {
    staged.stream.reset();
    if (PostNotification(job.window, staged.message,
                         reinterpret_cast<std::intptr_t>(staged.outcome.get()))) {
      staged.outcome.release();  // the receiver owns it now
    }
  }
  batch->clear();
}

bool Identify(EditStream* stream, std::uint64_t* device, std::uint64_t* index) {
  return stream->OriginalFile() && IdentifyFile(stream->OriginalFile(), device, index);
}

void FixFilesInBatches(const FixJob& job) {
  std::vector<Staged> batch;
  std::set<std::pair<std::uint64_t, std::uint64_t>> inBatch;  // files with a save waiting
  std::size_t saves = 0;
  std::uint64_t bytes = 0;
  const auto commit = [&] {
    CommitBatch(job, &batch);
    inBatch.clear();
    saves = 0;
    bytes = 0;
  };
  for (const PathString& path : *job.files) {
    if (StopRequested(job))
      break;
    Staged staged;
    staged.outcome = std::make_unique<FileOutcome>();
    staged.message = PrepareRepair(path, job.codePage, staged.outcome.get(), &staged.stream);
    if (staged.stream) {
      // Two names of one file are never in one batch: the second is read
      // again once the first is saved.
      if (!Identify(staged.stream.get(), &staged.device, &staged.index)) {
        staged.stream.reset();
        Fail(&staged);
      } else if (inBatch.count({staged.device, staged.index})) {
        staged.stream.reset();
        commit();
        staged.outcome = std::make_unique<FileOutcome>();
        staged.message = PrepareRepair(path, job.codePage, staged.outcome.get(), &staged.stream);
        if (staged.stream && !Identify(staged.stream.get(), &staged.device, &staged.index)) {
          staged.stream.reset();
          Fail(&staged);
        }
      }
    }
    if (staged.stream && !staged.stream->DescribeChange(&staged.record)) {
      staged.stream.reset();
      Fail(&staged);
    }
    if (staged.stream) {
      inBatch.insert({staged.device, staged.index});
      ++saves;
      bytes += staged.record.originalBytes.size() + staged.record.repairedLength;
    }
    batch.push_back(std::move(staged));
    if (saves >= job.batchFiles || bytes >= job.batchBytes || batch.size() >= kMostOutcomesHeld)
      commit();
  }
  commit();
}

}  // namespace

void FixFiles(const FixJob& job) {
  if (job.journal && !job.preview) {
    FixFilesInBatches(job);
    return;
  }
  for (const PathString& path : *job.files) {
    if (StopRequested(job))
      break;
    auto outcome = std::make_unique<FileOutcome>();
    const unsigned message =
        FixFile(path, job.codePage, outcome.get(), job.preview, job.recordSave, job.recordContext);
    if (PostNotification(job.window, message, reinterpret_cast<std::intptr_t>(outcome.get()))) {
      outcome.release();  // the receiver owns it now
    }
  }
}
