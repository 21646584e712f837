// Saving a repair, and taking back a save cut short. A repair records what
// it will write in an EditStream (engine/edit.h); a run commits it with the
// batch's other saves (engine/group-commit.h), and a file saved on its own
// is committed by EditStream::CommitEdits (engine/file-commit.cc). Either
// way the file is never left half written: after a crash the next run or
// undo brings it to its original or its complete repair.
#pragma once

#include <cstdint>
#include <string>

#include "engine/edit.h"
#include "engine/engine.h"
#include "engine/platform.h"

// Brings the file `path` names, whose save `record` describes and which may
// have been cut short at any point, to its original or its complete repair:
// a save in place is undone by putting the original bytes back, an insert
// of blocks before the tag by putting the old tag back and taking the blocks
// out, a tag at the end that changed size by putting the old end back and
// giving the file its old size, a new tag that reached the old tag's blocks after its room was lost
// (the file of its original size) by putting the old tag back in place, and
// a copy that never replaced its file is removed. A file that is
// neither and would not become its original that way is left alone. False
// when the file could not be written. `leftOriginal`, when given, tells
// whether the file is its original now: the save did not stand.
bool RecoverRecordedSave(const PathString& path, const SaveRecord& record,
                         bool* leftOriginal = nullptr);

// Restores what a save that was cut short left behind for `target` (a file,
// links followed): a journal beside it puts its original bytes back.
// Returns false when a journal exists that cannot be applied.
bool RecoverInterruptedSave(const PathString& target);

// The size and checksum of an open file, as a SaveRecord takes them for a
// save that replaced `length` bytes at `offset`; false when it cannot be
// read.
bool FileChecksum(NativeFile* file, std::uint64_t offset, std::uint64_t length, std::uint64_t* size,
                  std::uint32_t* crc);

// Writes and flushes the journal of a save of `target` that will overwrite
// `originalBytes` at `offset` and leave the file no longer `originalLength`.
bool WriteJournal(const PathString& target, std::uint64_t originalLength, std::uint64_t offset,
                  const std::string& originalBytes);

// The names of the journal and the copy that a save of `path` uses; they
// never end in ".mp3".
PathString JournalPathFor(const PathString& path);
PathString CopyPathFor(const PathString& path);
