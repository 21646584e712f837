// Group commit: how a run's saves reach the disk. It is the one route of a
// save; the single-file commit (EditStream::CommitEdits, engine/commit/file-commit.cc)
// is its named fallback, and both use the write steps of
// engine/write-steps.h.
//
// THE CALLING SEQUENCE OF A RUN
//
//   BeginRunJournal     recovers every batch an earlier run left without its
//                       commit mark (RecoverUnfinishedRuns), then starts the
//                       run journal (engine/commit/journal.h).
//   per batch           CommitBatch, on the fix thread or a commit thread of
//                       its own, one batch at a time:
//     1. record         each save, described as its file was read
//                       (SaveRecord: the bytes it replaces, the sizes,
//                       sampled checksums of the file before and after), is
//                       appended with the batch's others to the run journal,
//                       and they are flushed;
//     2. write          file by file: room is opened before the tag and the
//                       new tag written into it at once, or the tag is
//                       written in place, or a tag at the file's end is
//                       written in place and the end moved (the file takes
//                       its new size before a grown tag, after a shrunk
//                       one; a form's size field that the end's change
//                       moves, last for a grown one, first for a shrunk
//                       one), or a copy is written beside the file;
//                       nothing is flushed here;
//     3. durability     one flush of each file system (or of each written
//                       file where the platform has no such flush, or where
//                       it would not reach the disk: FUSE, SMB);
//     4. renames        each copy is renamed over its file, and the new
//                       names are made durable the same way (a flush of
//                       each of their folders where the file system is not
//                       flushed whole);
//     5. commit mark    the batch is marked finished in the run journal
//                       (flushed with the next batch's records or at the
//                       end of the run).
//   EndRunJournal       flushes the last mark.
//   recovery            at the next run or undo: each save of a batch
//                       without its mark is brought to its original or its
//                       complete repair (RecoverRecordedSave); a side journal
//                       of a single-file commit puts its original bytes back
//                       (RecoverInterruptedSave).
//
// A file falls back to the single-file commit, still after step 1, when its
// copy cannot take the original's owner or access lists, or when it has
// several hard links and its grown tag cannot get room before it. FixFile
// without a run journal and undo use the single-file commit alone.
//
// INVARIANTS
//
// I1. A file's new bytes are never written before its batch record is
//     durable: the records are flushed before the batch's first write.
// I2. A save writes only within its record's range (the old tag's bytes, or
//     room opened before them), its record's size field (a WAV or AIFF
//     form's size, whose last chunk grows at the end) or into a copy; every
//     other byte of the file, the audio above all, stays the original's. A tag written into opened
//     room runs on to the end of its last 4 KiB block with the audio's own
//     bytes, kept from the file's read, so that no block is read back from
//     the disk: what it writes there is what was there. The one exception,
//     the single-file rewrite in place of a grown file with several names,
//     keeps all it overwrites in its side journal first (I8).
// I3. A file that needs nothing gets no record and is never opened for
//     writing.
// I4. A copy takes its file's place only once the copy is durable, and the
//     commit mark is written only once the new names are durable.
// I5. A batch's commit mark is written only when every file of the batch is
//     durable as its original or its repair; a batch that left a file in
//     between gets no mark, and its files are recovered at the next run.
// I6. Between its record and its batch's mark, a file is at every moment in
//     a state that recovery tells by its size and sampled checksums:
//     original; repaired; of the original size with some of the record's
//     bytes overwritten (a tag written in place, or the new tag's bytes in
//     the old tag's blocks where the room opened before them was lost);
//     of the repaired size with room before the old tag and the new tag in
//     part; of the repaired size with the record's range at its end holding
//     the old bytes, the new ones or a mix, and its size field old or new
//     (a tag at the end that changed size); original beside a copy not yet
//     renamed; or, for a file that fell back to the single-file commit,
//     written in part beside its side journal (I8).
// I7. Recovery writes a file only when the content it restores has the
//     record's original checksum; a file changed by someone else since is
//     left alone. It may be cut short and run again any number of times.
// I8. The single-file commit writes in place only after a side journal of
//     every byte it overwrites is durable (the journal and its folder
//     flushed), and removes the journal only once the file is durable; its
//     copy replaces the file in one durable step.
// I9. Files are written one after the other, each tag right after its room
//     with no flush between them. So after a kill at most the file being
//     written at that instant (batches commit one at a time) is neither
//     original nor repaired; after a power loss at most the files of the
//     last batch without its commit mark are. The next run or --undo brings
//     each back to its original or its repair (I6, I7).
// I10. A batch whose run is still going is never recovered by another run.
// I11. A file that another program changed or replaced between its reading
//      and its batch's writes is not written: its size and its identity
//      behind its name are checked first, and it is reported as changed
//      during the run.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "engine/text/album.h"
#include "engine/commit/edit.h"
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

// What the batches of one run learn of its file systems. Batches commit one
// at a time, so it needs no lock.
struct RunWrites {
  // File systems that could not open room in a file once are not asked
  // again in the run: each asking costs a writable open.
  std::set<std::uint64_t> cannotInsert;
};

// Commits the saves of `batch` as described above, then posts every outcome
// and decision in order to the job's window and empties the batch.
void CommitBatch(const FixJob& job, RunWrites* run, std::vector<Staged>* batch);
