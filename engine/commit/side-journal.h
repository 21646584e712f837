// The journal a single-file commit keeps beside the file it writes in place
// (engine/commit/file-commit.cc), and the names of the side files a save uses.
#pragma once

#include <cstdint>
#include <string>

#include "engine/platform/platform.h"

struct SideJournal {
  // The file it belongs to: a file put in its place since is left alone.
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  std::uint64_t originalLength = 0;
  std::uint64_t offset = 0;
  std::string bytes;
};

// Writes and flushes the journal of a save of `target` (its folder too).
bool WriteSideJournal(const PathString& target, const SideJournal& journal);

// Puts the journal's original bytes back into `file`, gives it its length
// and flushes it.
bool ApplySideJournal(NativeFile* file, const SideJournal& journal);

// The folder that holds `path`, as a folder flush takes it (with its
// separator; "." when the path has none).
PathString FolderToFlush(const PathString& path);

// While a run goes on, each folder is listed once for the side files in it
// instead of asking for each file whether its side files exist: a save cut
// short is rare, and a failed open or removal per file is not free.
// Nested scopes share one index; it is dropped when the last ends.
void BeginSideFileIndex();
void EndSideFileIndex();
// False only when the index knows that `sidePath` does not exist.
bool SideFileMayExist(const PathString& sidePath);
// Tells the index that `sidePath` was created.
void NoteSideFile(const PathString& sidePath);
// Creates `sidePath` anew, removing one left behind by a run cut short.
NativeFile* CreateSideFile(const PathString& sidePath);

// Restores what a save that was cut short left behind for `target` (a file,
// links followed): a journal beside it puts its original bytes back.
// Returns false when a journal exists that cannot be applied.
bool RecoverInterruptedSave(const PathString& target);

// Writes and flushes the journal of a save of `target` that will overwrite
// `originalBytes` at `offset` and leave the file no longer `originalLength`.
bool WriteJournal(const PathString& target, std::uint64_t originalLength, std::uint64_t offset,
                  const std::string& originalBytes);

// The names of the journal and the copy that a save of `path` uses; they
// never end in ".mp3".
PathString JournalPathFor(const PathString& path);

PathString CopyPathFor(const PathString& path);
