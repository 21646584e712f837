// The steps that put an edit on disk, shared by the group commit
// (engine/commit/group-commit.cc) and the single-file commit (engine/commit/file-commit.cc).
// None of them flushes: each commit makes the steps durable its own way.
#pragma once

#include <cstdint>
#include <string>

#include "engine/commit/edit.h"

// How a step that writes into the file itself ended.
enum class StepResult {
  kWritten,
  kUntouched,  // nothing was written: the file is as it was
  kTakenBack,  // a write failed and the original bytes went back
  kUnsettled,  // a write failed and could not be taken back: for recovery
};

// True when a save of `record` can open room before the tag: the tag grows
// by whole blocks from the file's start.
bool WantsRoom(const SaveRecord& record);

// Opens the room a grown tag needs before the audio and writes the new tag
// at once, the room and the tag unflushed. kUntouched where the file system
// cannot open room (then nothing changed).
StepResult OpenRoomAndWriteTag(NativeFile* writer, const EditStream& stream,
                               const SaveRecord& record);

// True when a save of `record` changes the file's size at its end: its
// range runs to the end of the file (a tag there, as the APEv2 tag of .ape
// and .wv files) and holds at most 256 KB, so the new end is written in place
// and the end moved, and no audio moves. A range from the file's start
// (room before the tag) or one that would rewrite the audio takes a copy.
bool ChangesAtEnd(const SaveRecord& record);

// Writes the new end of the file over the record's range and gives the file
// its repaired size, nothing flushed: a file that grows takes its new size
// first, with its old end still in place, and one that shrinks is cut after
// the write. So at every moment the file is of its original or its repaired
// size, its range the old bytes, the new ones or a mix. A size field the
// save changes (the form's size of a WAV or AIFF file) is written last when
// the file grows, first when it shrinks: until then the form still ends
// where it ended. kTakenBack when a write failed and the original end, size
// field and size went back.
StepResult WriteAtEnd(NativeFile* writer, const EditStream& stream, const SaveRecord& record);

// Writes the content from `from` up to `end` over the file at `from` (through
// memory: the same file is read and written). `original` is what the write
// covers, put back when the write fails.
StepResult WriteInPlace(NativeFile* writer, const EditStream& stream, std::uint64_t from,
                        std::uint64_t end, const std::string& original);

// Writes the whole content to a new copy at `copyPath` with the original's
// owner and access lists; null when it cannot, with `secured` false when
// only the owner or access lists could not be given.
NativeFile* WriteCopy(const EditStream& stream, const PathString& copyPath, bool* secured);

// Closes the copy and the original (Windows renames neither an open copy
// nor over an open file) and puts the copy in the file's place: durably by
// itself, or not yet (`durable` false: a flush of the folder or the file
// system follows). The copy is removed when it cannot take the place. A
// null `copy` is one the caller keeps open: only where a whole file system
// is flushed at once, whose platforms rename an open file.
bool PutCopyInPlace(EditStream* stream, NativeFile* copy, const PathString& copyPath,
                    bool durable);
