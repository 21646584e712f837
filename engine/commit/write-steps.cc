#include "engine/commit/write-steps.h"

#include "engine/platform/disk.h"
#include "engine/commit/side-journal.h"

namespace {

// Tags grow by whole blocks of this size, so that the file system can open
// room for them before the audio.
constexpr std::uint64_t kTagBlock = 4096;

// The most a save at the end of a file writes in place: a tag, with its
// pictures, not the audio.
constexpr std::uint64_t kEndLimit = 256 << 10;

}  // namespace

bool WantsRoom(const SaveRecord& record) {
  return record.repairedSize > record.originalSize && record.offset == 0 &&
         (record.repairedSize - record.originalSize) % kTagBlock == 0;
}

StepResult OpenRoomAndWriteTag(NativeFile* writer, const EditStream& stream,
                               const SaveRecord& record) {
  const std::uint64_t grown = record.repairedSize - record.originalSize;
  // The new content is taken before the room is opened: bytes before the
  // tag are read from the original, which the room moves. The write runs on
  // to the end of the tag's last block with the audio's own bytes (kept in
  // memory, engine/commit/edit.h): opening room drops the file's cached blocks, and
  // a block written in part would be read back from the disk first.
  const std::uint64_t length = record.repairedLength;
  const std::uint64_t blockEnd = length + (kTagBlock - length % kTagBlock) % kTagBlock;
  std::string bytes;
  if (!stream.ReadContent(0, std::min(blockEnd, record.repairedSize), &bytes))
    return StepResult::kUntouched;
  if (!InsertFileRange(writer, 0, grown))
    return StepResult::kUntouched;
  // The new tag follows its room with no flush between: a crash can stop
  // the save between the two only for the files being written at that
  // instant, and recovery puts the old tag back either way.
  if (WriteFileAt(writer, 0, bytes.data(), bytes.size()))
    return StepResult::kWritten;
  const std::string& original = record.originalBytes;
  const bool undone = WriteFileAt(writer, grown, original.data(), original.size()) &&
                      CollapseFileRange(writer, 0, grown);
  return undone ? StepResult::kTakenBack : StepResult::kUnsettled;
}

bool ChangesAtEnd(const SaveRecord& record) {
  const std::uint64_t length = record.originalBytes.size();
  return record.repairedSize != record.originalSize && record.offset > 0 && !WantsRoom(record) &&
         record.offset + length == record.originalSize &&
         record.offset + record.repairedLength == record.repairedSize && length <= kEndLimit &&
         record.repairedLength <= kEndLimit;
}

StepResult WriteAtEnd(NativeFile* writer, const EditStream& stream, const SaveRecord& record) {
  std::string bytes;
  if (!stream.ReadContent(record.offset, record.repairedLength, &bytes))
    return StepResult::kUntouched;
  const std::string& original = record.originalBytes;
  const bool grows = record.repairedSize > record.originalSize;
  const std::string& field = record.sizeFieldRepaired;
  const auto writeField = [&](const std::string& bytes) {
    return bytes.empty() || WriteFileAt(writer, record.sizeFieldAt, bytes.data(), bytes.size());
  };
  const bool written = (grows || writeField(field)) &&
                       (!grows || TruncateNativeFile(writer, record.repairedSize)) &&
                       WriteFileAt(writer, record.offset, bytes.data(), bytes.size()) &&
                       (grows || TruncateNativeFile(writer, record.repairedSize)) &&
                       (!grows || writeField(field));
  if (written)
    return StepResult::kWritten;
  const bool undone = writeField(record.sizeFieldOriginal) &&
                      WriteFileAt(writer, record.offset, original.data(), original.size()) &&
                      TruncateNativeFile(writer, record.originalSize);
  return undone ? StepResult::kTakenBack : StepResult::kUnsettled;
}

StepResult WriteInPlace(NativeFile* writer, const EditStream& stream, std::uint64_t from,
                        std::uint64_t end, const std::string& original) {
  std::string bytes;
  if (!stream.ReadContent(from, end - from, &bytes))
    return StepResult::kUntouched;
  if (WriteFileAt(writer, from, bytes.data(), bytes.size()))
    return StepResult::kWritten;
  return WriteFileAt(writer, from, original.data(), original.size()) ? StepResult::kTakenBack
                                                                     : StepResult::kUnsettled;
}

NativeFile* WriteCopy(const EditStream& stream, const PathString& copyPath, bool* secured) {
  *secured = true;
  NativeFile* copy = CreateSideFile(copyPath);
  if (!copy) {
    NoteFailedStep(L"the copy beside the file could not be made");
    return nullptr;
  }
  // The copy is new and empty, so writing every byte of the content gives
  // it the content's length.
  const bool written = stream.WriteContent(copy, 0, stream.NewLength(), 0);
  *secured = !written || CopyFileSecurity(stream.OriginalFile(), copy);
  if (written && *secured)
    return copy;
  CloseNativeFile(copy);
  RemoveFileIfPresent(copyPath);
  return nullptr;
}

bool PutCopyInPlace(EditStream* stream, NativeFile* copy, const PathString& copyPath,
                    bool durable) {
  CloseNativeFile(copy);
  stream->CloseOriginal();
  const bool placed = durable ? ReplaceFileAtomically(stream->target(), copyPath)
                              : RenameOver(stream->target(), copyPath);
  if (!placed)
    RemoveFileIfPresent(copyPath);
  return placed;
}
