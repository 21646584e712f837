#include "engine/readers.h"

#include <algorithm>

#include "engine/commit/checksum.h"
#include "engine/formats/repair.h"
#include "engine/formats/tag-extent.h"

bool StopRequested(const FixJob& job) {
  return job.stopRequested && job.stopRequested->load(std::memory_order_relaxed);
}

void PrepareStaged(const FixJob& job, const PathString& path, const Redecoding& redecoding,
                   Staged* staged) {
  *staged = Staged();
  staged->outcome = std::make_unique<FileOutcome>();
  RepairOptions options;
  options.redecoding = redecoding;
  options.id3v2Version = job.id3v2Version;
  staged->message = PrepareRepair(path, options, staged->outcome.get(), &staged->stream);
  NativeFile* file = staged->stream ? staged->stream->OriginalFile() : nullptr;
  if (staged->stream && !(file && IdentifyFile(file, &staged->device, &staged->index))) {
    staged->stream.reset();
    FailStaged(staged);
  }
  // What the save replaces, with its checksums, from the bytes just read;
  // then only the record and the new tag wait for the batch.
  if (staged->stream && !staged->stream->DescribeChange(&staged->record)) {
    staged->stream.reset();
    FailStaged(staged);
  }
  if (staged->stream)
    staged->stream->ReleaseKeptBytes();
}

std::uint64_t HeldBytes(const Staged& staged) {
  if (!staged.stream)
    return 0;
  return staged.record.originalBytes.size() + staged.stream->NewBytes();
}

std::uint64_t ExpectedBytes(NativeFile* file, const PathString& path, const std::string& head) {
  // Room for a tag that grows: text re-decoded into UTF-16, padding by
  // whole blocks, ID3v1 fields copied.
  constexpr std::uint64_t kGrowth = 16 * 1024;
  return 2 * TagExtent(file, FormatOfPath(path), head) + kGrowth;
}

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

void EndWriting(Readers* readers, std::uint64_t bytes) {
  if (!readers)
    return;
  LockGate(readers->gate);
  readers->writing.clear();
  readers->held -= std::min(readers->held, bytes);
  if (readers->blocked)
    WakeGate(readers->gate);
  UnlockGate(readers->gate);
}

namespace {

// Whether a batch handed to commit from hand-off `since` on saves `file`.
// Called with the gate held.
bool HandedOffSince(const Readers& readers, std::uint64_t since, const Identity& file) {
  for (const auto& [number, files] : readers.handedOff) {
    if (number >= since && files.count(file))
      return true;
  }
  return false;
}

// The file's first bytes, as its stream would read them first: up to
// 64 KiB, as far as the file goes. Empty when they cannot be read.
std::string ReadHead(NativeFile* file) {
  std::uint64_t size = 0;
  std::string head;
  if (!file || !FileSizeOf(file, &size))
    return head;
  head.resize(std::size_t(std::min(size, kChecksumEdge)));
  if (!head.empty() && !ReadFileAt(file, 0, &head[0], head.size()))
    head.clear();
  return head;
}

// Whether the fix loop, waiting for files read, should go on. Called with
// the gate held.
bool TakerMayGo(const Readers& readers);

// Waits for the file's turn and for room for the bytes expected of it, then
// counts them. Called with the gate held.
void TakeRoom(Readers* readers, const Pending& item, std::uint64_t expected) {
  if (item.ticket != kNoTicket) {
    // Closing readers wait for nothing: the fix loop takes no more files
    // and frees no more room (a run stopped with a batch held).
    while (readers->nextTicket != item.ticket && !readers->closing) {
      ++readers->blocked;
      WaitGate(readers->gate);
      --readers->blocked;
    }
    const auto counted = [readers] { return readers->held + readers->expected; };
    while (counted() > 0 && counted() + expected > readers->limit && !readers->closing) {
      ++readers->waitingForRoom;
      if (readers->takerWaiting && TakerMayGo(*readers))
        WakeGate(readers->gate);
      ++readers->blocked;
      WaitGate(readers->gate);
      --readers->blocked;
      --readers->waitingForRoom;
    }
    ++readers->nextTicket;
    if (readers->blocked)
      WakeGate(readers->gate);
  }
  readers->expected += expected;
}

// Counts what a file read holds in place of what was expected of it.
// Called with the gate held.
void CountHeld(Readers* readers, std::uint64_t expected, std::uint64_t held) {
  readers->expected -= std::min(readers->expected, expected);
  readers->held += held;
  if (HeldBytesTally* tally = readers->job->heldBytes) {
    tally->mostHeld = std::max(tally->mostHeld, readers->held);
    tally->largestFile = std::max(tally->largestFile, held);
  }
}

}  // namespace

void ReadGuarded(Readers* readers, Pending* item) {
  LockGate(readers->gate);
  const std::uint64_t handOffsAtOpen = readers->handOffs;
  UnlockGate(readers->gate);
  NativeFile* file = OpenExistingFile(item->path, false);
  item->known = file && IdentifyFile(file, &item->identity.first, &item->identity.second);
  // The first bytes tell the tag's size before it is read; the repair
  // takes them from here rather than reading them again.
  std::string head = ReadHead(file);
  const std::uint64_t expected = ExpectedBytes(file, item->path, head);
  LockGate(readers->gate);
  TakeRoom(readers, *item, expected);
  // A file that cannot be told apart waits for any batch committing.
  bool waited = false;
  while (item->known
             ? readers->writing.count(item->identity) || readers->reading.count(item->identity)
             : !readers->writing.empty()) {
    waited = true;
    ++readers->blocked;
    WaitGate(readers->gate);
    --readers->blocked;
  }
  if (item->known)
    readers->reading.insert(item->identity);
  item->handOffsBefore = readers->handOffs;
  // The file opened to tell which it is is the one its repair reads, unless
  // a batch that saves it may have put a copy in its place since.
  const bool reopen =
      !item->known || waited || HandedOffSince(*readers, handOffsAtOpen, item->identity);
  UnlockGate(readers->gate);
  if (reopen) {
    CloseNativeFile(file);
    file = nullptr;
  }
  {
    HandOver handOver(item->path, file, std::move(head));
    PrepareStaged(*readers->job, item->path, item->redecoding, &item->staged);
  }

  LockGate(readers->gate);
  CountHeld(readers, expected, HeldBytes(item->staged));
  if (item->known)
    readers->reading.erase(readers->reading.find(item->identity));
  if (readers->blocked)
    WakeGate(readers->gate);
  UnlockGate(readers->gate);
}

namespace {

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
    if (StopRequested(*readers->job)) {
      // Its turn passes, never opened. Until then it counts as being read:
      // TakeRoom may wait on the gate, and the fix loop takes a skipped
      // file out of `pending` (freeing `item`) as soon as it sees one.
      item.state = Pending::State::kReading;
      TakeRoom(readers, item, 0);
      item.state = Pending::State::kSkipped;
    } else {
      item.state = Pending::State::kReading;
      UnlockGate(readers->gate);
      ReadGuarded(readers, &item);
      LockGate(readers->gate);
      item.state = Pending::State::kRead;
    }
    if (readers->takerWaiting && TakerMayGo(*readers))
      WakeGate(readers->gate);
  }
  UnlockGate(readers->gate);
  return 0;
}

bool TakerMayGo(const Readers& readers) {
  const std::size_t ready = ReadyAtFront(readers);
  return ready >= readers.wanted || (readers.waitingForRoom && (ready > 0 || readers.takerHolds));
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

}  // namespace

// Whether a batch saving the pending file was handed to commit after the
// file was read: what it read is gone.
bool ReadBeforeItsSave(Readers* readers, const Pending& item) {
  if (!item.known)
    return false;
  LockGate(readers->gate);
  const bool found = HandedOffSince(*readers, item.handOffsBefore, item.identity);
  UnlockGate(readers->gate);
  return found;
}

std::vector<Pending> TakeReadyFiles(Readers* readers, std::size_t wanted, bool batchHolds) {
  std::vector<Pending> taken;
  LockGate(readers->gate);
  readers->wanted = std::min(wanted, readers->pending.size());
  readers->takerHolds = batchHolds;
  while (!TakerMayGo(*readers)) {
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
  return taken;
}

bool RoomWanted(Readers* readers) {
  LockGate(readers->gate);
  const bool wanted = readers->waitingForRoom > 0;
  UnlockGate(readers->gate);
  return wanted;
}

void ReleaseBytes(Readers* readers, std::uint64_t bytes) {
  if (!readers || !bytes)
    return;
  LockGate(readers->gate);
  readers->held -= std::min(readers->held, bytes);
  if (readers->blocked)
    WakeGate(readers->gate);
  UnlockGate(readers->gate);
}

bool SubmitToReaders(Readers* readers, Pending item) {
  LockGate(readers->gate);
  if (item.state == Pending::State::kWaiting)
    item.ticket = readers->tickets++;
  readers->pending.push_back(std::move(item));
  if (readers->idleReaders)
    WakeGate(readers->gate);
  UnlockGate(readers->gate);
  return readers->pending.size() > readers->window;
}

bool StartReaders(const FixJob& job, Readers* readers, unsigned count) {
  readers->job = &job;
  readers->gate = CreateGate();
  readers->window = 8 * std::size_t(count) + 8;
  readers->limit = job.batchBytes;
  for (unsigned i = 0; i < count; ++i) {
    if (WorkerThread* thread = StartWorkerThread(ReaderThreadProc, readers))
      readers->threads.push_back(thread);
  }
  if (!readers->threads.empty())
    return true;
  DestroyGate(readers->gate);
  readers->gate = nullptr;
  return false;
}

void CloseReaders(Readers* readers) {
  LockGate(readers->gate);
  readers->closing = true;
  WakeGate(readers->gate);
  UnlockGate(readers->gate);
  for (WorkerThread* thread : readers->threads)
    JoinWorkerThread(thread);
  readers->threads.clear();
}

void DestroyReaders(Readers* readers) {
  DestroyGate(readers->gate);
  readers->gate = nullptr;
}
