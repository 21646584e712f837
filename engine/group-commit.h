// Group commit: the saves of a batch of files are journaled and flushed
// once, written without a flush each, made durable together (one flush of
// each file system, or of each file where the platform has no such flush)
// and marked committed. Where the file system can open blocks in a file, a
// tag that grows is given room before it and the audio is never copied;
// elsewhere the repaired file is written beside the original and renamed
// over it once durable. It is the one route of a save; the single-file
// commit (EditStream::CommitEdits, engine/file-commit.cc) is its named
// fallback, and both use the write steps of engine/write-steps.h.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/album.h"
#include "engine/edit.h"
#include "engine/engine.h"

// How a staged save reaches its file.
enum class Strategy { kNone, kInsert, kInPlace, kCopy, kAlone };

// A file of a batch (or an album's decision, posted in its place): its
// outcome, and its save while it waits for the batch.
struct Staged {
  std::unique_ptr<AlbumDecision> decision;
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

// Marks a staged file failed: "Couldn't save changes".
void FailStaged(Staged* staged);

// Commits the saves of `batch` as described above, then posts every outcome
// and decision in order to the job's window and empties the batch.
void CommitBatch(const FixJob& job, std::vector<Staged>* batch);
