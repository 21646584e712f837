// Group commit: a batch's records, its writes, their durability, the renames
// and the commit mark, in the order and under the invariants that
// engine/commit/group-commit.h writes down.
#include "engine/commit/group-commit.h"

#include <map>
#include <set>

#include "engine/commit/journal.h"
#include "engine/commit/edit.h"
#include "engine/commit/side-journal.h"
#include "engine/commit/write-steps.h"

namespace {

// What the writes of a batch need across its files.
struct BatchWrites {
  // File systems that could not open room once are not asked again.
  std::set<std::uint64_t>& cannotInsert;
  // A write failed and could not be taken back: no commit mark (I5).
  bool unsettled = false;
};

// Notes how a write into the file itself ended; true when it was written.
bool Settle(Staged* staged, StepResult step, BatchWrites* writes) {
  if (step == StepResult::kWritten) {
    staged->ok = true;
    return true;
  }
  if (step == StepResult::kUnsettled)
    writes->unsettled = true;
  FailStaged(staged);
  return false;
}

void CloseWriter(Staged* staged) {
  CloseNativeFile(staged->writer);
  staged->writer = nullptr;
}

// True when `file`, opened by the file's name now, is the file that was
// read: another program may have put a new file in its place since.
bool SameFileAsRead(const Staged& staged, NativeFile* file) {
  std::uint64_t device = 0, index = 0;
  return file && IdentifyFile(file, &device, &index) && device == staged.device &&
         index == staged.index;
}

// True when another program changed the file read since (its size is
// another), or put another file in its place (asked here only when
// `checkName`; the writes in place ask their own writable open).
bool ChangedSinceRead(const Staged& staged, bool checkName) {
  std::uint64_t size = 0;
  if (!FileSizeOf(staged.stream->OriginalFile(), &size) || size != staged.record.originalSize)
    return true;
  if (!checkName)
    return false;
  std::uint64_t device = 0, index = 0;
  return !IdentifyPath(staged.stream->target(), &device, &index) || device != staged.device ||
         index != staged.index;
}

// Its record describes bytes that are no longer there, so nothing of it is
// written (I11).
void FailChanged(Staged* staged) {
  CloseNativeFile(staged->writer);
  staged->writer = nullptr;
  staged->outcome->detail = L"the file changed during the run";
  FailStaged(staged);
}

// Room before the tag, and the tag in it: false when the file system cannot
// open room here (the file is as it was, and another way is taken).
bool TryInsert(Staged* staged, BatchWrites* writes) {
  if (!WantsRoom(staged->record) || writes->cannotInsert.count(staged->device))
    return false;
  if (!MayInsertFileRange(staged->stream->OriginalFile())) {
    writes->cannotInsert.insert(staged->device);
    return false;
  }
  staged->writer = OpenExistingFile(staged->stream->target(), true);
  if (!staged->writer)
    return false;
  if (!SameFileAsRead(*staged, staged->writer)) {
    FailChanged(staged);
    return true;
  }
  const StepResult step = OpenRoomAndWriteTag(staged->writer, *staged->stream, staged->record);
  if (step == StepResult::kUntouched) {
    writes->cannotInsert.insert(staged->device);
    CloseWriter(staged);
    ClearDiskFailure();  // no failure: another way is taken
    return false;
  }
  staged->strategy = Strategy::kInsert;
  if (!Settle(staged, step, writes))
    CloseWriter(staged);
  return true;
}

// Writes the save into the file itself: its range in place, and where the
// range runs to the file's end, the end moved with it (I2, I6).
void WriteIntoFile(Staged* staged, BatchWrites* writes) {
  const SaveRecord& record = staged->record;
  staged->strategy = Strategy::kInPlace;
  staged->writer = OpenExistingFile(staged->stream->target(), true);
  if (!staged->writer) {
    FailStaged(staged);
    return;
  }
  if (!SameFileAsRead(*staged, staged->writer)) {
    FailChanged(staged);
    return;
  }
  const StepResult step =
      record.repairedSize == record.originalSize
          ? WriteInPlace(staged->writer, *staged->stream, record.offset,
                         record.offset + record.repairedLength, record.originalBytes)
          : WriteAtEnd(staged->writer, *staged->stream, record);
  if (!Settle(staged, step, writes))
    CloseWriter(staged);
}

// Writes one save of the batch, not yet durable (step 2). A failed write in
// place is taken back at once where it can be; what cannot stays for
// recovery.
void WriteStaged(Staged* staged, BatchWrites* writes) {
  ClearDiskFailure();  // a failure below says its own reason
  EditStream& stream = *staged->stream;
  const SaveRecord& record = staged->record;
  if (ChangedSinceRead(*staged, false)) {
    FailChanged(staged);
    return;
  }
  if (TryInsert(staged, writes))
    return;
  if (record.repairedSize == record.originalSize || ChangesAtEnd(record)) {
    WriteIntoFile(staged, writes);
    return;
  }
  // A file with several names keeps them, and one whose owner a copy cannot
  // take keeps it: such files fall back to the single-file commit.
  if (!HasSeveralLinks(stream.OriginalFile())) {
    if (ChangedSinceRead(*staged, true)) {
      FailChanged(staged);
      return;
    }
    staged->strategy = Strategy::kCopy;
    staged->copyPath = CopyPathFor(stream.target());
    bool secured = true;
    staged->writer = WriteCopy(stream, staged->copyPath, &secured);
    staged->ok = staged->writer != nullptr;
    if (!staged->ok)
      staged->copyPath.clear();
    if (staged->ok || secured) {
      if (!staged->ok)
        FailStaged(staged);
      return;
    }
  }
  staged->strategy = Strategy::kAlone;
  staged->ok = stream.CommitEdits();
  if (!staged->ok)
    FailStaged(staged);
}

// Makes the writes of `files` durable (step 3): one flush per file system
// where the platform has one, else each file by itself. Files whose flush
// failed are marked failed. `fileSystems` tells of each device whether it
// was flushed whole.
bool MakeDurable(const std::vector<Staged*>& files, std::map<std::uint64_t, bool>* flushedWhole) {
  std::map<std::uint64_t, bool>& fileSystems = *flushedWhole;
  bool all = true;
  for (Staged* staged : files) {
    auto found = fileSystems.find(staged->device);
    if (found == fileSystems.end())
      found = fileSystems.emplace(staged->device, FlushFileSystemOf(staged->writer)).first;
    if (!found->second && !FlushNativeFile(staged->writer)) {
      FailStaged(staged);
      all = false;
    }
  }
  return all;
}

// Makes the new names durable: one flush per file system that `flushedWhole`
// says was flushed whole, else a flush of each folder (a no-op where a
// replace is durable by itself). `kept` holds a copy of each file system left
// open past its rename, through which its file system is flushed without
// opening a file.
void MakeRenamesDurable(const std::vector<Staged*>& renamed,
                        const std::map<std::uint64_t, bool>& flushedWhole,
                        const std::map<std::uint64_t, NativeFile*>& kept) {
  std::set<std::uint64_t> fileSystems;
  std::set<PathString> folders;
  for (Staged* staged : renamed) {
    if (fileSystems.count(staged->device))
      continue;
    const PathString& target = staged->stream->target();
    const auto whole = flushedWhole.find(staged->device);
    if (whole != flushedWhole.end() && whole->second) {
      const auto found = kept.find(staged->device);
      NativeFile* file =
          found != kept.end() ? found->second : OpenExistingFile(target, false);
      const bool flushed = file && FlushFileSystemOf(file);
      if (found == kept.end())
        CloseNativeFile(file);
      if (flushed) {
        fileSystems.insert(staged->device);
        continue;
      }
    }
    const PathString folder = FolderToFlush(target);
    if (folders.insert(folder).second)
      FlushFolder(folder);
  }
}

// Step 1: what each save replaces, with its checksums (described as its
// file was read), journaled and flushed. False when nothing is to be
// written.
bool RecordBatch(const FixJob& job, std::vector<Staged>* batch) {
  // The records are lent to the journal and given back, not copied: they
  // hold the batch's original tags.
  std::vector<JournalSave> saves;
  for (Staged& staged : *batch) {
    if (staged.stream)
      saves.push_back(JournalSave{staged.outcome->path, std::move(staged.record)});
  }
  if (saves.empty())
    return false;
  const bool recorded = JournalBatch(job.journal, saves);
  std::size_t lent = 0;
  for (Staged& staged : *batch) {
    if (staged.stream)
      staged.record = std::move(saves[lent++].record);
  }
  if (recorded)
    return true;
  std::wstring reason;
  JournalFailed(job.journal, &reason);
  for (Staged& staged : *batch) {
    if (!staged.stream)
      continue;
    staged.outcome->detail = L"the run's record could not be written in the state folder" +
                             (reason.empty() ? std::wstring() : L": " + reason);
    FailStaged(&staged);
  }
  return false;
}

// Steps 2 to 5 for a batch whose records are durable.
void WriteBatch(const FixJob& job, RunWrites* run, std::vector<Staged>* batch) {
  BatchWrites writes{run->cannotInsert};
  std::vector<Staged*> written;
  for (Staged& staged : *batch) {
    if (!staged.stream)
      continue;
    WriteStaged(&staged, &writes);
    if (staged.ok && staged.writer)
      written.push_back(&staged);
  }
  // The copies are durable before they take their files' places, and the
  // new names are durable before the commit mark (I4).
  std::map<std::uint64_t, bool> flushedWhole;
  if (!MakeDurable(written, &flushedWhole))
    writes.unsettled = true;
  std::vector<Staged*> renamed;
  // Where a file system is flushed whole, one renamed copy of it stays open
  // for the flush of the new names (an open file goes on naming the same
  // file after its rename), so that no file is opened again for it.
  std::map<std::uint64_t, NativeFile*> kept;
  for (Staged* staged : written) {
    if (staged->strategy != Strategy::kCopy || !staged->ok)
      continue;
    const bool keep = flushedWhole[staged->device] && !kept.count(staged->device);
    NativeFile* held = keep ? staged->writer : nullptr;
    const bool placed = PutCopyInPlace(staged->stream.get(), keep ? nullptr : staged->writer,
                                       staged->copyPath, false);
    staged->writer = nullptr;
    if (placed && keep)
      kept.emplace(staged->device, held);
    else
      CloseNativeFile(held);
    if (placed)
      renamed.push_back(staged);
    else
      FailStaged(staged);
  }
  MakeRenamesDurable(renamed, flushedWhole, kept);
  for (const auto& [device, file] : kept)
    CloseNativeFile(file);
  // The saves that failed are told to the journal by their places among
  // the batch's records, so that the run is not said to have changed them.
  std::vector<std::size_t> unsaved;
  std::size_t recordIndex = 0;
  for (Staged& staged : *batch) {
    CloseWriter(&staged);
    if (!staged.stream)
      continue;
    if (!staged.ok)
      unsaved.push_back(recordIndex);
    ++recordIndex;
  }
  if (!writes.unsettled)
    JournalCommit(job.journal, unsaved);
}

void PostOutcomes(const FixJob& job, std::vector<Staged>* batch) {
  for (Staged& staged : *batch) {
    staged.stream.reset();  // the file is closed before its outcome is told
    if (staged.decision) {
      if (PostNotification(job.window, WM_FIX_ALBUM_DECIDED,
                           reinterpret_cast<std::intptr_t>(staged.decision.get())))
        staged.decision.release();  // the receiver owns it now
    } else if (PostNotification(job.window, staged.message,
                                reinterpret_cast<std::intptr_t>(staged.outcome.get()))) {
      staged.outcome.release();
    }
  }
  batch->clear();
}

}  // namespace

void FailStaged(Staged* staged) {
  staged->message = WM_FIX_FAILED;
  staged->outcome->issue = kIssueCouldNotSave;
  if (staged->outcome->detail.empty())
    staged->outcome->detail = LastDiskFailure();
  staged->ok = false;
}

void CommitBatch(const FixJob& job, RunWrites* run, std::vector<Staged>* batch) {
  if (RecordBatch(job, batch))
    WriteBatch(job, run, batch);
  PostOutcomes(job, batch);
}
