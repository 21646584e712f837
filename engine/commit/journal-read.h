// Reading the run journals in the state folder back: the runs, their saves
// and renames, for undo and the list of runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/commit/journal-format.h"

// Every kept journal in the state folder, oldest first (by start time, then
// by the counter within that second).
std::vector<JournalRun> ReadJournalRuns(const PathString& stateFolder, JournalDepth depth);

bool ReadJournalRun(const PathString& file, JournalDepth depth, JournalRun* run);

// One save of a journal read with kIndex, with its original bytes, from
// its record at `recordAt`; false when it cannot be read or does not check.
bool ReadJournalSave(const PathString& file, std::uint64_t recordAt, JournalSave* save);

// Marks a run undone once its undo restored or reported every file:
// `partly` when some files were left as they are (changed since the run,
// or not writable). A run marked either way is not undone again by itself.
bool MarkJournalRunUndone(const JournalRun& run, bool partly = false);

PathString RunsFolder(const PathString& stateFolder);

// The journals in the runs folder whose names end in one of `suffixes`.
std::vector<PathString> JournalFiles(const PathString& stateFolder,
                                     std::initializer_list<const PathChar*> suffixes);

// `count` bytes from `offset`; true at once when `count` is 0.
bool ReadAt(NativeFile* file, std::uint64_t offset, std::uint64_t count, std::string* out);

// Reads a journal's header into `run` and, as deep as `depth` asks, its
// records: counted into `run`, or decoded into `content`. False when the
// file cannot be read or has no whole header.
bool ReadJournalFile(const PathString& file, JournalDepth depth, JournalRun* run,
                     JournalContent* content);
