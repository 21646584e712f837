// The run journal: what every save of a run replaces, written before the
// saves of a batch of files and flushed once for the batch, then a commit
// mark once the batch's files are durable. It is what undo reads, and what
// recovery reads at the start of the next run or undo: the saves of a batch
// without its commit mark are each brought to their original or their
// complete repair. A kept journal lives in the state folder's "runs" folder
// until pruned; a scratch journal (a run that is not recorded) lives only as
// long as its run.
//
// A RUN CUT SHORT
//
//   The next run's BeginRunJournal (or an undo) finds the journal with saves
//   or renames after its last commit mark; a recorded run that finds one
//   creates its own journal at once, to have its id. Recovery brings each
//   of those saves to its original or its complete repair, then appends to
//   the journal cut short, in one flushed write: an unsaved mark for every
//   save left original, a finished-by record with the recovering run's id,
//   and a commit mark.
//
// J1. A save that recovery leaves as its original is marked unsaved before
//     the journal's mark: the run cut short no longer counts the file as
//     changed, and its undo passes it over. A file left as its repair stays
//     the run's; the next run finds nothing to do in it.
// J2. So no file's change is claimed by two runs: the run that finishes a
//     file's repair claims it alone, and undoing either run, or both in any
//     order, restores each file once.
// J3. A journal finished by another run's recovery names that run (empty
//     for a run not recorded, or an undo); a listing tells both sides.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"

struct RunJournal;

// One save as the journal holds it.
struct JournalSave {
  PathString path;  // absolute
  SaveRecord record;
  // False when the save was recorded but its file could not be written
  // (the run reported it failed): the run did not change that file.
  bool saved = true;
  // Where its record starts in the journal, read back with kIndex (whose
  // saves come without their original bytes; ReadJournalSave reads them).
  std::uint64_t recordAt = 0;
};

// One rename as the journal holds it: the entry `from` was given the name
// `to` in the same folder (both absolute, the folders above as they were
// when the run renamed it: deepest entries are renamed first).
struct JournalRename {
  PathString from;
  PathString to;
};

// A recorded run.
struct JournalRun {
  PathString file;            // the journal
  std::string id;             // its name: time, and a counter within one second
  bool undone = false;        // every file restored or reported
  bool partlyUndone = false;  // undone, but some files were left as they are
  std::int64_t started = 0;
  std::vector<PathString> paths;  // the paths the run was given, absolute
  std::size_t saveCount = 0;      // saves recorded; filled by kCount and kFull
  // Saves of finished batches that reached their files: what the run
  // changed. Filled by kCount and kFull.
  std::size_t changedCount = 0;
  std::vector<JournalSave> saves;      // filled by kIndex and kFull
  std::size_t renameCount = 0;         // renames recorded; filled by kCount, kIndex and kFull
  std::vector<JournalRename> renames;  // in the order done; filled by kIndex and kFull
  // Saves or renames after the last commit mark: the run was cut short (or
  // is still going) and nothing finished it yet. Filled by kCount and on.
  bool interrupted = false;
  // Cut short, then finished by the recovery of a later run: that run's id
  // (empty when it was not recorded, or was an undo). Filled by kCount and on.
  bool finished = false;
  std::string finishedBy;
};

// How much of a journal to read: pruning needs the header, a listing the
// number of records, an undo and recovery every record without its original
// bytes (each read when its file is restored, so that memory holds one
// save's bytes at a time), tests everything.
enum class JournalDepth { kHeader, kCount, kIndex, kFull };

// True when the run of a journal cut short still holds it (it is going).
bool JournalRunGoing(const JournalRun& run);

// True when a journal can be written in the state folder (made when it is
// missing): checked before a run touches any file, so that a run that could
// not record its saves stops before it begins.
bool StateFolderWritable(const PathString& stateFolder);

// Recovers unfinished runs, makes way for a new run's journal (drops kept
// journals older than 30 days and all but the newest 19) and returns one;
// the file itself is created with the first batch. `keep` false: a scratch
// journal, removed when the run ends. Null without a state folder.
RunJournal* BeginRunJournal(const PathString& stateFolder, const std::vector<PathString>& paths,
                            bool keep = true);
// Flushes the last commit mark; removes a scratch journal.
void EndRunJournal(RunJournal* journal);
// True once a write of the journal failed: the state folder could not take
// the run's records (full, read-only, no permission); `reason` gets the
// system's words for the first failure. The saves of a batch whose records
// failed are not written.
bool JournalFailed(const RunJournal* journal, std::wstring* reason = nullptr);

// Appends the records of one batch and flushes them: on disk before the
// batch's first write. Paths are taken as absolute.
bool JournalBatch(RunJournal* journal, const std::vector<JournalSave>& saves);
// Appends encoded records and flushes them, creating the journal file
// first when the run has not written one yet.
bool JournalRecords(RunJournal* journal, const std::string& records);
// True when every batch journaled so far has its commit mark and the
// journal has not failed: what a run checks before it records anything
// after its saves, whose mark would otherwise cover a batch left unfinished.
bool JournalSettled(const RunJournal* journal);

// Marks every batch journaled so far finished (its files durable). Flushed
// with the next batch, or when the journal ends. `unsaved` holds the places,
// within the last batch's saves, of those whose files could not be written:
// they are recorded as such before the mark, so that the run is not said to
// have changed them.
bool JournalCommit(RunJournal* journal, const std::vector<std::size_t>& unsaved = {});

// The path from the root: the current folder joined in front of a relative
// path, without "." steps.
PathString AbsolutePath(const PathString& path);
