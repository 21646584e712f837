// The fix thread's loop, and group commit: the saves of a batch of files are
// journaled and flushed once, written without a flush each, made durable
// together (one flush of each file system, or of each file where the
// platform has no such flush) and marked committed. Where the file system
// can open blocks in a file, a tag that grows is given room before it and the
// audio is never copied; elsewhere the repaired file is written beside the
// original and renamed over it once durable.
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "engine/album.h"
#include "engine/engine.h"
#include "engine/journal.h"
#include "engine/repair.h"
#include "engine/save.h"
#include "engine/suggest.h"

namespace {

bool StopRequested(const FixJob& job) {
  return job.stopRequested && job.stopRequested->load(std::memory_order_relaxed);
}

constexpr std::uint64_t kBlock = 4096;
// Outcomes of files that need nothing wait for their batch too; this many
// at most, so that progress keeps moving and memory stays small.
constexpr std::size_t kMostOutcomesHeld = 1024;
// Reading more files at once than this gains nothing but open files.
constexpr unsigned kMostReaders = 64;

enum class Strategy { kNone, kInPlace, kInsert, kCopy, kSelfDurable };

struct Staged {
  std::unique_ptr<AlbumDecision> decision;  // an album's page, posted in its place
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
// A file system that could not open room once is not asked again in the
// batch (`cannotInsert` holds its device).
bool InsertRoom(Staged* staged, std::set<std::uint64_t>* cannotInsert) {
  const SaveRecord& record = staged->record;
  if (record.repairedSize <= record.originalSize || record.offset != 0 ||
      (record.repairedSize - record.originalSize) % kBlock != 0 ||
      cannotInsert->count(staged->device))
    return false;
  staged->writer = OpenExistingFile(staged->stream->target(), true);
  if (staged->writer &&
      InsertFileRange(staged->writer, 0, record.repairedSize - record.originalSize)) {
    staged->strategy = Strategy::kInsert;
    staged->ok = true;
    return true;
  }
  if (staged->writer)
    cannotInsert->insert(staged->device);
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
  // What each save replaces, with its checksums: here rather than as each
  // file is read, so that with overlap this reading is done beside the next
  // batch's.
  std::vector<JournalSave> saves;
  for (Staged& staged : *batch) {
    if (staged.stream && !staged.stream->DescribeChange(&staged.record)) {
      staged.stream.reset();
      Fail(&staged);
    }
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
    std::set<std::uint64_t> cannotInsert;
    for (Staged& staged : *batch) {
      if (staged.stream && InsertRoom(&staged, &cannotInsert))
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

bool Identify(EditStream* stream, std::uint64_t* device, std::uint64_t* index) {
  return stream->OriginalFile() && IdentifyFile(stream->OriginalFile(), device, index);
}

using Identity = std::pair<std::uint64_t, std::uint64_t>;

struct Readers;

// Where the fix loop's outcomes go: posted one by one as each file is done
// (a preview, or a run without a journal), or held with their batch and
// posted once it is committed, in the order the files came.
struct Outcomes {
  explicit Outcomes(const FixJob& fixJob) : job(fixJob) {}
  const FixJob& job;
  bool batched = false;
  std::vector<Staged> batch;
  std::set<Identity> inBatch;  // files with a save waiting
  std::size_t saves = 0;
  std::uint64_t bytes = 0;
  // With readers, files are read ahead on their own threads and the batch
  // before this one commits on its own thread while this one is gathered.
  Readers* readers = nullptr;
  WorkerThread* committing = nullptr;
};

// A file (or an album's decision) in the order the fix loop takes them.
struct Pending {
  enum class State { kWaiting, kReading, kRead, kSkipped };
  State state = State::kWaiting;
  PathString path;
  Redecoding redecoding;
  Staged staged;       // the file's outcome and save once read, or the decision
  bool known = false;  // the file's identity, taken before it was read
  Identity identity;
  std::uint64_t handOffsBefore = 0;  // batches handed to commit when it was read
};

// Files read ahead on threads of their own while the fix loop takes them in
// order. A file is read by one reader at a time and never while a batch
// that saves it commits: a batch waits for the readers of its files before
// it is handed to commit. A file read before a batch that saves it was
// handed to commit (a second name of it) is read again afterwards.
struct Readers {
  const Outcomes* outcomes = nullptr;
  Gate* gate = nullptr;
  std::deque<Pending> pending;  // the front is taken next
  std::size_t nextToRead = 0;   // no waiting file in `pending` before this
  std::size_t window = 0;       // files read ahead at most
  bool closing = false;
  // Who sleeps on the gate, so that it is woken only when one of them can
  // go on: the fix loop waits for `wanted` files read at the front.
  std::size_t idleReaders = 0;
  std::size_t blocked = 0;  // readers and batches waiting for one another
  bool takerWaiting = false;
  std::size_t wanted = 0;
  std::multiset<Identity> reading;
  std::set<Identity> writing;  // the files of the batch committing
  std::uint64_t handOffs = 0;
  std::deque<std::pair<std::uint64_t, std::set<Identity>>> handedOff;  // recent batches
  std::vector<WorkerThread*> threads;
};

// A batch handed to the commit thread, which frees it.
struct CommitWork {
  const FixJob* job;
  Readers* readers;
  std::vector<Staged> batch;
};

// The readers wait for a batch's files while it commits.
void BeginWriting(Readers* readers, const std::set<Identity>& files) {
  if (!readers)
    return;
  LockGate(readers->gate);
  auto beingRead = [&] {
    for (const Identity& file : files) {
      if (readers->reading.count(file))
        return true;
    }
    return false;
  };
  while (beingRead()) {
    ++readers->blocked;
    WaitGate(readers->gate);
    --readers->blocked;
  }
  readers->writing = files;
  if (!files.empty())  // a batch of outcomes alone saves nothing
    readers->handedOff.emplace_back(readers->handOffs, files);
  ++readers->handOffs;
  UnlockGate(readers->gate);
}

void EndWriting(Readers* readers) {
  if (!readers)
    return;
  LockGate(readers->gate);
  readers->writing.clear();
  if (readers->blocked)
    WakeGate(readers->gate);
  UnlockGate(readers->gate);
}

ThreadResult THREAD_CALL CommitThreadProc(void* param) {
  std::unique_ptr<CommitWork> work(static_cast<CommitWork*>(param));
  CommitBatch(*work->job, &work->batch);
  EndWriting(work->readers);
  return 0;
}

// Waits for the batch in flight: its files are saved and its outcomes told.
void WaitForCommit(Outcomes* outcomes) {
  if (!outcomes->committing)
    return;
  JoinWorkerThread(outcomes->committing);
  outcomes->committing = nullptr;
}

// Commits the batch held so far: with readers on its own thread, so that
// the next files are read while this batch is written and flushed; batches
// still commit one after the other, and tell their outcomes in order.
void Commit(Outcomes* outcomes, bool last = false) {
  WaitForCommit(outcomes);
  Readers* readers = outcomes->readers;
  BeginWriting(readers, outcomes->inBatch);
  if (readers && !last && !outcomes->batch.empty()) {
    auto work = std::make_unique<CommitWork>();
    work->job = &outcomes->job;
    work->readers = readers;
    work->batch = std::move(outcomes->batch);
    outcomes->batch.clear();
    CommitWork* handed = work.get();
    outcomes->committing = StartWorkerThread(CommitThreadProc, handed);
    if (outcomes->committing) {
      work.release();  // the commit thread owns it now
    } else {
      CommitBatch(outcomes->job, &work->batch);  // no thread: in turn
      EndWriting(readers);
    }
  } else {
    CommitBatch(outcomes->job, &outcomes->batch);
    EndWriting(readers);
  }
  outcomes->inBatch.clear();
  outcomes->saves = 0;
  outcomes->bytes = 0;
}

void Hold(Outcomes* outcomes, Staged staged) {
  outcomes->batch.push_back(std::move(staged));
  if (outcomes->saves >= outcomes->job.batchFiles || outcomes->bytes >= outcomes->job.batchBytes ||
      outcomes->batch.size() >= kMostOutcomesHeld)
    Commit(outcomes);
}

void Prepare(const Outcomes& outcomes, const PathString& path, const Redecoding& redecoding,
             Staged* staged) {
  *staged = Staged();
  staged->outcome = std::make_unique<FileOutcome>();
  RepairOptions options;
  options.redecoding = redecoding;
  options.id3v2Version = outcomes.job.id3v2Version;
  staged->message = PrepareRepair(path, options, staged->outcome.get(), &staged->stream);
  if (staged->stream && !Identify(staged->stream.get(), &staged->device, &staged->index)) {
    staged->stream.reset();
    Fail(staged);
  }
}

// Reads a file beside the other readers and the batch committing (see
// Readers); called without the gate held.
void ReadGuarded(Readers* readers, Pending* item) {
  NativeFile* file = OpenExistingFile(item->path, false);
  item->known = file && IdentifyFile(file, &item->identity.first, &item->identity.second);
  CloseNativeFile(file);
  LockGate(readers->gate);
  // A file that cannot be told apart waits for any batch committing.
  while (item->known
             ? readers->writing.count(item->identity) || readers->reading.count(item->identity)
             : !readers->writing.empty()) {
    ++readers->blocked;
    WaitGate(readers->gate);
    --readers->blocked;
  }
  if (item->known)
    readers->reading.insert(item->identity);
  item->handOffsBefore = readers->handOffs;
  UnlockGate(readers->gate);

  Prepare(*readers->outcomes, item->path, item->redecoding, &item->staged);

  LockGate(readers->gate);
  if (item->known)
    readers->reading.erase(readers->reading.find(item->identity));
  if (readers->blocked)
    WakeGate(readers->gate);
  UnlockGate(readers->gate);
}

// The files at the front of `pending` that are read (or skipped) and the
// decisions among them, in a row. Called with the gate held.
std::size_t ReadyAtFront(const Readers& readers) {
  std::size_t ready = 0;
  for (const Pending& item : readers.pending) {
    if (item.state == Pending::State::kWaiting || item.state == Pending::State::kReading)
      break;
    ++ready;
  }
  return ready;
}

ThreadResult THREAD_CALL ReaderThreadProc(void* param) {
  auto* readers = static_cast<Readers*>(param);
  LockGate(readers->gate);
  for (;;) {
    std::deque<Pending>& pending = readers->pending;
    while (readers->nextToRead < pending.size() &&
           pending[readers->nextToRead].state != Pending::State::kWaiting)
      ++readers->nextToRead;
    if (readers->nextToRead == pending.size()) {
      if (readers->closing)
        break;
      ++readers->idleReaders;
      WaitGate(readers->gate);
      --readers->idleReaders;
      continue;
    }
    // The fix loop takes nothing out of `pending` while it is being read.
    Pending& item = pending[readers->nextToRead++];
    if (StopRequested(readers->outcomes->job)) {
      item.state = Pending::State::kSkipped;  // never opened
    } else {
      item.state = Pending::State::kReading;
      UnlockGate(readers->gate);
      ReadGuarded(readers, &item);
      LockGate(readers->gate);
      item.state = Pending::State::kRead;
    }
    if (readers->takerWaiting && ReadyAtFront(*readers) >= readers->wanted)
      WakeGate(readers->gate);
  }
  UnlockGate(readers->gate);
  return 0;
}

// Whether a batch saving the pending file was handed to commit after the
// file was read: what it read is gone.
bool ReadBeforeItsSave(Readers* readers, const Pending& item) {
  if (!item.known)
    return false;
  LockGate(readers->gate);
  bool found = false;
  for (const auto& [number, files] : readers->handedOff)
    found = found || (number >= item.handOffsBefore && files.count(item.identity));
  UnlockGate(readers->gate);
  return found;
}

// Forgets the batches handed to commit before any file still to be taken
// was read. Called with the gate held.
void ForgetOldHandOffs(Readers* readers, const std::vector<Pending>& taken) {
  std::uint64_t oldest = readers->handOffs;
  auto note = [&oldest](const Pending& item) {
    if (item.state == Pending::State::kReading || item.state == Pending::State::kRead)
      oldest = std::min(oldest, item.handOffsBefore);
  };
  std::for_each(readers->pending.begin(), readers->pending.end(), note);
  std::for_each(taken.begin(), taken.end(), note);
  while (!readers->handedOff.empty() && readers->handedOff.front().first < oldest)
    readers->handedOff.pop_front();
}

// Takes a file once read, with its outcome and save, into the batch.
void Accept(Outcomes* outcomes, const PathString& path, const Redecoding& redecoding, Staged staged,
            const Pending* read) {
  // Two names of one file are never in one batch: the second is read again
  // once the first is saved.
  const bool stale = read && ReadBeforeItsSave(outcomes->readers, *read);
  if (stale || (staged.stream && outcomes->inBatch.count({staged.device, staged.index}))) {
    staged.stream.reset();
    Commit(outcomes);
    WaitForCommit(outcomes);
    if (outcomes->readers) {
      Pending again;
      again.path = path;
      again.redecoding = redecoding;
      ReadGuarded(outcomes->readers, &again);
      staged = std::move(again.staged);
    } else {
      Prepare(*outcomes, path, redecoding, &staged);
    }
  }
  if (staged.stream) {
    outcomes->inBatch.insert({staged.device, staged.index});
    ++outcomes->saves;
    // The journal holds about the old and the new tag.
    outcomes->bytes += 2 * staged.stream->NewBytes();
  }
  Hold(outcomes, std::move(staged));
}

// Waits until `wanted` files at the front of `pending` are read, then takes
// every one read so far into the batch, in order.
void TakeReady(Outcomes* outcomes, std::size_t wanted) {
  Readers* readers = outcomes->readers;
  std::vector<Pending> taken;
  LockGate(readers->gate);
  readers->wanted = std::min(wanted, readers->pending.size());
  while (ReadyAtFront(*readers) < readers->wanted) {
    readers->takerWaiting = true;
    WaitGate(readers->gate);
    readers->takerWaiting = false;
  }
  for (std::size_t ready = ReadyAtFront(*readers); ready > 0; --ready) {
    Pending item = std::move(readers->pending.front());
    readers->pending.pop_front();
    if (readers->nextToRead > 0)
      --readers->nextToRead;
    taken.push_back(std::move(item));
  }
  ForgetOldHandOffs(readers, taken);
  UnlockGate(readers->gate);

  for (Pending& item : taken) {
    if (item.state == Pending::State::kSkipped)
      continue;
    if (item.staged.decision)
      Hold(outcomes, std::move(item.staged));
    else
      Accept(outcomes, item.path, item.redecoding, std::move(item.staged), &item);
  }
}

void Submit(Outcomes* outcomes, Pending item) {
  Readers* readers = outcomes->readers;
  LockGate(readers->gate);
  readers->pending.push_back(std::move(item));
  if (readers->idleReaders)
    WakeGate(readers->gate);
  UnlockGate(readers->gate);
  // Half the window at a time, so that the fix loop and the readers wake
  // each other seldom.
  if (readers->pending.size() > readers->window)
    TakeReady(outcomes, readers->window / 2);
}

void StartReaders(Outcomes* outcomes, Readers* readers, unsigned count) {
  readers->outcomes = outcomes;
  readers->gate = CreateGate();
  readers->window = 8 * std::size_t(count) + 8;
  for (unsigned i = 0; i < count; ++i) {
    if (WorkerThread* thread = StartWorkerThread(ReaderThreadProc, readers))
      readers->threads.push_back(thread);
  }
  if (readers->threads.empty()) {
    DestroyGate(readers->gate);
    return;  // no thread: files are read in turn
  }
  outcomes->readers = readers;
}

// Takes every file still pending, then ends the readers.
void StopReaders(Outcomes* outcomes) {
  Readers* readers = outcomes->readers;
  if (!readers)
    return;
  while (!readers->pending.empty())
    TakeReady(outcomes, readers->window / 2);
  LockGate(readers->gate);
  readers->closing = true;
  WakeGate(readers->gate);
  UnlockGate(readers->gate);
  for (WorkerThread* thread : readers->threads)
    JoinWorkerThread(thread);
  WaitForCommit(outcomes);
  outcomes->readers = nullptr;
  DestroyGate(readers->gate);
}

void HandleFile(Outcomes* outcomes, const PathString& path, const Redecoding& redecoding) {
  const FixJob& job = outcomes->job;
  if (!outcomes->batched) {
    auto outcome = std::make_unique<FileOutcome>();
    RepairOptions options;
    options.redecoding = redecoding;
    options.id3v2Version = job.id3v2Version;
    options.preview = job.preview;
    const unsigned message = FixFile(path, options, outcome.get());
    if (PostNotification(job.window, message, reinterpret_cast<std::intptr_t>(outcome.get())))
      outcome.release();  // the receiver owns it now
    return;
  }
  if (outcomes->readers) {
    Pending item;
    item.path = path;
    item.redecoding = redecoding;
    Submit(outcomes, std::move(item));
    return;
  }
  Staged staged;
  Prepare(*outcomes, path, redecoding, &staged);
  Accept(outcomes, path, redecoding, std::move(staged), nullptr);
}

void HandleDecision(Outcomes* outcomes, std::unique_ptr<AlbumDecision> decision) {
  if (outcomes->readers) {
    Pending item;
    item.state = Pending::State::kRead;
    item.staged.decision = std::move(decision);
    Submit(outcomes, std::move(item));
  } else if (outcomes->batched) {
    Staged staged;
    staged.decision = std::move(decision);
    Hold(outcomes, std::move(staged));
  } else if (PostNotification(outcomes->job.window, WM_FIX_ALBUM_DECIDED,
                              reinterpret_cast<std::intptr_t>(decision.get()))) {
    decision.release();  // the receiver owns it now
  }
}

const AlbumCodePage* NamedPage(const FixJob& job, const PathString& folder) {
  if (!job.albumCodePages)
    return nullptr;
  for (const AlbumCodePage& named : *job.albumCodePages) {
    if (named.folder == folder)
      return &named;
  }
  return nullptr;
}

// The files of each album together, albums in the order their first file
// was found: the scan lists a folder's subfolders between its own files.
std::vector<std::size_t> AlbumOrder(const std::vector<PathString>& files) {
  std::map<PathString, std::size_t> firstFile;
  std::vector<std::size_t> album(files.size());
  for (std::size_t i = 0; i < files.size(); ++i)
    album[i] = firstFile.emplace(FolderOf(files[i]), i).first->second;
  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&album](std::size_t a, std::size_t b) { return album[a] < album[b]; });
  return order;
}

// One album at a time: its files are read once to decide, then repaired, so
// memory holds one album's text however large the library.
void FixAlbums(Outcomes* outcomes) {
  const FixJob& job = outcomes->job;
  const std::vector<PathString>& files = *job.files;
  const std::vector<std::size_t> order = AlbumOrder(files);
  std::size_t first = 0;
  while (first < order.size() && !StopRequested(job)) {
    const PathString folder = FolderOf(files[order[first]]);
    std::size_t end = first + 1;
    while (end < order.size() && FolderOf(files[order[end]]) == folder)
      ++end;

    auto decision = std::make_unique<AlbumDecision>();
    if (const AlbumCodePage* named = NamedPage(job, folder)) {
      decision->codePage = named->codePage;
      decision->overridden = true;
      decision->confidence = 1;
    } else {
      SuggestionPool pool;
      for (std::size_t i = first;
           i < end && !StopRequested(job) && pool.highByteCount < kAlbumHighBytesEnough; ++i)
        CollectFromFile(files[order[i]], &pool);
      *decision = DecideAlbum(pool);
    }
    decision->folder = folder;
    Redecoding redecoding;
    redecoding.automatic = true;
    redecoding.codePage = decision->codePage;
    HandleDecision(outcomes, std::move(decision));
    for (std::size_t i = first; i < end && !StopRequested(job); ++i)
      HandleFile(outcomes, files[order[i]], redecoding);
    first = end;
  }
}

}  // namespace

void FixFiles(const FixJob& job) {
  Outcomes outcomes(job);
  outcomes.batched = job.journal && !job.preview;
  Readers readers;
  if (outcomes.batched && job.jobs > 1)
    StartReaders(&outcomes, &readers, std::min(job.jobs, kMostReaders));
  if (job.automatic) {
    FixAlbums(&outcomes);
  } else {
    Redecoding redecoding;
    redecoding.codePage = job.codePage;
    for (const PathString& path : *job.files) {
      if (StopRequested(job))
        break;
      HandleFile(&outcomes, path, redecoding);
    }
  }
  StopReaders(&outcomes);
  Commit(&outcomes, /*last=*/true);  // nothing left to read meanwhile
}
