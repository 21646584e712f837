// Read-ahead: with --jobs 2 or more, files are read and their repairs
// composed on threads of their own while the fix loop (engine/fix-loop.cc)
// takes them in order and the batch before commits. A file is read by one
// reader at a time and never while a batch that saves it commits: a batch
// waits for the readers of its files before it is handed to commit. A file
// read before a batch that saves it was handed to commit (a second name of
// it) is read again afterwards.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/group-commit.h"

using Identity = std::pair<std::uint64_t, std::uint64_t>;

bool StopRequested(const FixJob& job);

// Reads `path` and composes its repair into `staged`: its outcome, and on
// success its save, the file's identity and the record of what the save
// replaces.
void PrepareStaged(const FixJob& job, const PathString& path, const Redecoding& redecoding,
                   Staged* staged);

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
// every one read (or skipped) so far, in order.
std::vector<Pending> TakeReadyFiles(Readers* readers, std::size_t wanted);

// Reads a file beside the other readers and the batch committing; called
// without the gate held.
void ReadGuarded(Readers* readers, Pending* item);
// Whether a batch saving the pending file was handed to commit after the
// file was read: what it read is gone.
bool ReadBeforeItsSave(Readers* readers, const Pending& item);

// The readers wait for a batch's files while it commits (null `readers`:
// no readers, nothing to do).
void BeginWriting(Readers* readers, const std::set<Identity>& files);
void EndWriting(Readers* readers);
