// The single-file commit: the fallback of the group commit (see
// engine/commit/group-commit.h) for a file saved without a run journal (FixFile on
// its own, an undo), for a file with several hard links whose tag cannot get
// room before it, and for a file whose copy cannot take its owner. It uses
// the same write steps, made durable by itself:
//  - when the length stays, or the file has several names, the region that
//    changes (when the length changes: everything from the tag on) is kept
//    in a journal beside the file, flushed, then overwritten in place; a
//    journal found later (RecoverInterruptedSave) puts the original back;
//  - when the length changes, a copy is written beside the file, flushed,
//    and renamed over the original in one durable replace.
#include "engine/commit/edit.h"
#include "engine/commit/file-commit.h"
#include "engine/commit/side-journal.h"
#include "engine/commit/write-steps.h"

namespace {

// The most a rewrite in place of an edit with a size field keeps in its
// journal: the field and everything from it on, audio too, since the side
// journal holds one range.
constexpr std::uint64_t kMostKeptWithField = std::uint64_t(64) << 20;

// Rewrites the file in place under a side journal of the bytes the write
// covers. `writer` is the file opened for writing.
bool CommitInPlace(EditStream* stream, NativeFile* writer) {
  const Edit& edit = stream->edit();
  const std::uint64_t oldLength = stream->OriginalLength(), newLength = stream->NewLength();
  const bool sameLength = newLength == oldLength;
  // What the write covers: the edit, or when the length changes everything
  // from the edit on, which a rename cannot spare; from its size field on
  // where it has one.
  const std::uint64_t from = edit.sizeField.empty() ? edit.offset : edit.sizeFieldAt;
  const std::uint64_t oldEnd = sameLength ? edit.offset + edit.replaced : oldLength;
  const std::uint64_t newEnd = sameLength ? oldEnd : newLength;
  if (!edit.sizeField.empty() && oldEnd - from > kMostKeptWithField)
    return false;
  SideJournal journal;
  journal.originalLength = oldLength;
  journal.offset = from;
  journal.bytes.resize(std::size_t(oldEnd - from));
  if ((!journal.bytes.empty() &&
       !ReadFileAt(stream->OriginalFile(), from, &journal.bytes[0], journal.bytes.size())) ||
      !IdentifyFile(stream->OriginalFile(), &journal.device, &journal.index) ||
      !WriteSideJournal(stream->target(), journal))
    return false;
  StepResult step = WriteInPlace(writer, *stream, from, newEnd, journal.bytes);
  bool written = step == StepResult::kWritten &&
                 (sameLength || TruncateNativeFile(writer, newLength)) && FlushNativeFile(writer);
  // A failed write is taken back at once; what cannot be taken back stays
  // in the journal for the next run.
  if (written || ApplySideJournal(writer, journal))
    RemoveFileIfPresent(JournalPathFor(stream->target()));
  return written;
}

// Writes a copy, flushes it and replaces the file with it. `unsecured` is
// set when the copy could not take the original's owner or access lists.
bool CommitByReplace(EditStream* stream, bool* unsecured) {
  const PathString copyPath = CopyPathFor(stream->target());
  bool secured = true;
  NativeFile* copy = WriteCopy(*stream, copyPath, &secured);
  *unsecured = !secured;
  if (!copy)
    return false;
  if (!FlushNativeFile(copy)) {
    CloseNativeFile(copy);
    RemoveFileIfPresent(copyPath);
    return false;
  }
  return PutCopyInPlace(stream, copy, copyPath, /*durable=*/true);
}

}  // namespace

bool EditStream::CommitEdits() {
  if (!file_ || failed_)
    return false;
  if (!Changed())
    return true;
  // Saving needs a file that may be written; a read-only one is refused as
  // TagLib refuses it.
  NativeFile* writer = OpenExistingFile(target_, true);
  if (!writer)
    return false;
  bool ok = false;
  if (NewLength() == originalLength_ || HasSeveralLinks(file_)) {
    ok = CommitInPlace(this, writer);
  } else {
    // Windows replaces no file that is still open.
    CloseNativeFile(writer);
    writer = nullptr;
    bool unsecured = false;
    ok = CommitByReplace(this, &unsecured);
    // A copy that could not take the original's owner or access lists must
    // not replace it; the file is rewritten in place instead.
    if (!ok && unsecured && file_ && (writer = OpenExistingFile(target_, true)))
      ok = CommitInPlace(this, writer);
  }
  CloseNativeFile(writer);
  CloseOriginal();
  return ok;
}
