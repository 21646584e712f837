// Read-ahead: with --jobs 2 or more, files are read and their repairs
// composed on threads of their own while the fix loop (engine/fix-loop.cc)
// takes them in order and the batch before commits. A file is read by one
// reader at a time and never while a batch that saves it commits: a batch
// waits for the readers of its files before it is handed to commit. A file
// read before a batch that saves it was handed to commit (a second name of
// it) is read again afterwards.
//
// Memory is bounded by bytes as well as by files. The bytes that count are
// those that files read and not yet committed hold (each save's original
// and new bytes: read ahead, in the batch gathered and in the batch
// committing), against the job's `batchBytes`.
//
// B1. They stay within `batchBytes` beyond one file's own: a file is read
//     only once the bytes expected of it (told from its layout, which gives
//     its tag's size in every format) fit beside those held and those
//     expected of the files being read, or when nothing else is held or
//     expected.
// B2. Files take room in the order they come, so a file waiting for room
//     never waits for one behind it.
// B3. While a reader waits for room, the fix loop commits the batch it
//     gathers at once, and a batch's bytes are given back when its commit
//     ends: a run always goes on, even with files larger than the limit.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/commit/group-commit.h"

using Identity = std::pair<std::uint64_t, std::uint64_t>;

bool StopRequested(const FixJob& job);

// Reads `path` and composes its repair into `staged`: its outcome, and on
// success its save, the file's identity and the record of what the save
// replaces.
void PrepareStaged(const FixJob& job, const PathString& path, const Redecoding& redecoding,
                   Staged* staged);

// The bytes a staged save holds until its batch is committed: the original
// bytes it replaces and its new bytes.
std::uint64_t HeldBytes(const Staged& staged);
// The bytes a file is expected to hold once read, from its first bytes and
// its layout (engine/formats/tag-extent.h): twice its tag (the original and the new
// one) and some room for growth.
std::uint64_t ExpectedBytes(NativeFile* file, const PathString& path, const std::string& head);

constexpr std::uint64_t kNoTicket = std::numeric_limits<std::uint64_t>::max();

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
  // Its turn to be given room in the byte limit; a file read again by the
  // fix loop has none and takes room without waiting.
  std::uint64_t ticket = kNoTicket;
};

struct Readers {
  const FixJob* job = nullptr;
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
  // The byte limit (the job's batchBytes) and what counts against it: the
  // bytes held by files read and not yet committed, and those expected of
  // the files being read.
  std::uint64_t limit = 0;
  std::uint64_t held = 0;
  std::uint64_t expected = 0;
  std::uint64_t tickets = 0;       // handed to the files submitted
  std::uint64_t nextTicket = 0;    // the file whose turn it is
  std::size_t waitingForRoom = 0;  // readers waiting for bytes to be given back
  bool takerHolds = false;         // the fix loop's batch holds saves
};

// Starts `count` reader threads; false when none could start (files are
// then read in turn, and `readers` is not to be used).
bool StartReaders(const FixJob& job, Readers* readers, unsigned count);
// Ends the reader threads once `pending` is empty. The gate stays for the
// batch still committing; DestroyReaders frees it.
void CloseReaders(Readers* readers);
void DestroyReaders(Readers* readers);

// Queues a file (or a decision, already kRead) for the readers; true when
// more than the window is pending and the fix loop should take some.
bool SubmitToReaders(Readers* readers, Pending item);
// Waits until `wanted` files at the front of `pending` are read, then takes
// every one read (or skipped) so far, in order. Returns sooner when a reader
// waits for room and some are read, or `batchHolds` (the batch gathered
// holds saves, which a commit would give back).
std::vector<Pending> TakeReadyFiles(Readers* readers, std::size_t wanted, bool batchHolds);
// True when a reader waits for bytes held to be given back.
bool RoomWanted(Readers* readers);
// Gives back the bytes of a file read and then dropped.
void ReleaseBytes(Readers* readers, std::uint64_t bytes);

// Reads a file beside the other readers and the batch committing; called
// without the gate held.
void ReadGuarded(Readers* readers, Pending* item);
// Whether a batch saving the pending file was handed to commit after the
// file was read: what it read is gone.
bool ReadBeforeItsSave(Readers* readers, const Pending& item);

// The readers wait for a batch's files while it commits (null `readers`:
// no readers, nothing to do); its `bytes` are given back when it ends.
void BeginWriting(Readers* readers, const std::set<Identity>& files);
void EndWriting(Readers* readers, std::uint64_t bytes);
