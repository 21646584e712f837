// The fix thread's loop: files in the order found (or album by album with
// --codepage auto), each read and its repair composed, then held with its
// batch until the batch is committed (engine/commit/group-commit.h), and outcomes
// told in the order the files came. A preview, or a run without a journal,
// repairs and tells each file by itself.
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "engine/album-tracks.h"
#include "engine/engine.h"
#include "engine/fix-loop.h"
#include "engine/commit/group-commit.h"
#include "engine/commit/journal.h"
#include "engine/readers.h"
#include "engine/formats/repair.h"
#include "engine/commit/side-journal.h"
#include "engine/suggest-collect.h"
#include "engine/text/text-pool.h"

namespace {

// Outcomes of files that need nothing wait for their batch too; this many
// at most, so that progress keeps moving and memory stays small.
constexpr std::size_t kMostOutcomesHeld = 1024;
// Reading more files at once than this gains nothing but open files.
constexpr unsigned kMostReaders = 64;

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
  RunWrites writes;  // used by one committing batch at a time
};

// A batch handed to the commit thread, which frees it.
struct CommitWork {
  const FixJob* job;
  Readers* readers;
  RunWrites* writes;
  std::vector<Staged> batch;
  std::uint64_t bytes = 0;  // what its saves hold, given back once committed
};

ThreadResult THREAD_CALL CommitThreadProc(void* param) {
  std::unique_ptr<CommitWork> work(static_cast<CommitWork*>(param));
  CommitBatch(*work->job, work->writes, &work->batch);
  EndWriting(work->readers, work->bytes);
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
    work->writes = &outcomes->writes;
    work->bytes = outcomes->bytes;
    work->batch = std::move(outcomes->batch);
    outcomes->batch.clear();
    CommitWork* handed = work.get();
    outcomes->committing = StartWorkerThread(CommitThreadProc, handed);
    if (outcomes->committing) {
      work.release();  // the commit thread owns it now
    } else {
      CommitBatch(outcomes->job, &outcomes->writes, &work->batch);  // no thread: in turn
      EndWriting(readers, work->bytes);
    }
  } else {
    CommitBatch(outcomes->job, &outcomes->writes, &outcomes->batch);
    EndWriting(readers, outcomes->bytes);
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

// Takes a file once read, with its outcome and save, into the batch.
void Accept(Outcomes* outcomes, const PathString& path, const Redecoding& redecoding, Staged staged,
            const Pending* read) {
  // Two names of one file are never in one batch: the second is read again
  // once the first is saved.
  const bool stale = read && ReadBeforeItsSave(outcomes->readers, *read);
  if (stale || (staged.stream && outcomes->inBatch.count({staged.device, staged.index}))) {
    if (read)
      ReleaseBytes(outcomes->readers, HeldBytes(staged));
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
      PrepareStaged(outcomes->job, path, redecoding, &staged);
    }
  }
  if (staged.stream) {
    outcomes->inBatch.insert({staged.device, staged.index});
    ++outcomes->saves;
    outcomes->bytes += HeldBytes(staged);
    if (HeldBytesTally* tally = outcomes->job.heldBytes) {
      tally->mostInBatch = std::max(tally->mostInBatch, outcomes->bytes);
      tally->largestFile = std::max(tally->largestFile, HeldBytes(staged));
    }
  }
  Hold(outcomes, std::move(staged));
}

// Takes every file read so far into the batch, in order, once `wanted` at
// the front are read.
void TakeReady(Outcomes* outcomes, std::size_t wanted) {
  for (Pending& item : TakeReadyFiles(outcomes->readers, wanted, outcomes->saves > 0)) {
    if (item.state == Pending::State::kSkipped)
      continue;
    if (item.staged.decision)
      Hold(outcomes, std::move(item.staged));
    else
      Accept(outcomes, item.path, item.redecoding, std::move(item.staged), &item);
  }
  // A reader waits for room that the batch holds: the batch is committed
  // now rather than once it is full.
  if (outcomes->saves && RoomWanted(outcomes->readers))
    Commit(outcomes);
}

void Submit(Outcomes* outcomes, Pending item) {
  // Half the window at a time, so that the fix loop and the readers wake
  // each other seldom.
  if (SubmitToReaders(outcomes->readers, std::move(item)))
    TakeReady(outcomes, outcomes->readers->window / 2);
}

// Takes every file still pending, then ends the readers.
void StopReaders(Outcomes* outcomes) {
  Readers* readers = outcomes->readers;
  if (!readers)
    return;
  while (!readers->pending.empty())
    TakeReady(outcomes, readers->window / 2);
  CloseReaders(readers);
  WaitForCommit(outcomes);
  outcomes->readers = nullptr;
  DestroyReaders(readers);
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
  PrepareStaged(outcomes->job, path, redecoding, &staged);
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

// The album's decision from the text of its files pooled, and the pages
// that some of its files read clearly through on their own.
AlbumDecision DecideFromFiles(const FixJob& job, const std::vector<PathString>& files,
                              const std::vector<std::size_t>& order, std::size_t first,
                              std::size_t end) {
  SuggestionPool pool;
  pool.distinctTexts = true;
  std::vector<unsigned> trackPages;
  std::vector<SuggestionPool> tracks;
  for (std::size_t i = first;
       i < end && !StopRequested(job) && pool.highByteCount < kAlbumHighBytesEnough; ++i) {
    tracks.emplace_back();
    tracks.back().distinctTexts = true;
    CollectFromFile(files[order[i]], &tracks.back());
    AddTrackText(tracks.back(), &pool, &trackPages);
  }
  return DecideAlbumOfTracks(pool, trackPages, tracks);
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
    const AlbumCodePage* named = NamedPage(job, folder);
    if (named) {
      decision->codePage = named->codePage;
      decision->overridden = true;
      decision->confidence = 1;
    } else {
      *decision = DecideFromFiles(job, files, order, first, end);
    }
    decision->folder = folder;
    Redecoding redecoding;
    redecoding.automatic = true;
    redecoding.codePage = decision->codePage;
    redecoding.named = decision->overridden;
    redecoding.tagsPage = named && named->fromTags;
    redecoding.trackCodePages = decision->trackCodePages;
    redecoding.renames = job.playlistRenames;
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
  if (outcomes.batched && job.jobs > 1 &&
      StartReaders(job, &readers, std::min(job.jobs, kMostReaders)))
    outcomes.readers = &readers;
  // Side files are looked for by listing each folder once (see
  // engine/commit/side-journal.h).
  if (!job.preview)
    BeginSideFileIndex();
  if (job.automatic) {
    FixAlbums(&outcomes);
  } else {
    Redecoding redecoding;
    redecoding.codePage = job.codePage;
    redecoding.renames = job.playlistRenames;
    for (const PathString& path : *job.files) {
      if (StopRequested(job))
        break;
      HandleFile(&outcomes, path, redecoding);
    }
  }
  StopReaders(&outcomes);
  Commit(&outcomes, /*last=*/true);  // nothing left to read meanwhile
  if (!job.preview)
    EndSideFileIndex();
}
