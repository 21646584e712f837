// Recovery of a save recorded in the run journal: the file is brought to its
// original or its complete repair, whichever step of the save was cut short
// (see the invariants in engine/commit/group-commit.h).
#include <algorithm>

#include "engine/commit/checksum.h"
#include "engine/commit/recovery.h"
#include "engine/commit/edit.h"
#include "engine/commit/side-journal.h"
#include "engine/commit/write-steps.h"

namespace {

// The original as it would read with `bytes` at `offset` and what follows
// them taken from `shift` bytes further on in `file`, the record's original
// size field in its place.
RangeReader RestoredReader(NativeFile* file, const SaveRecord& record, const std::string& bytes,
                           std::uint64_t shift) {
  const std::uint64_t offset = record.offset;
  const std::uint64_t fieldAt = record.sizeFieldAt;
  const std::string field = record.sizeFieldOriginal;
  return [=](std::uint64_t start, std::uint64_t count, std::string* out) {
    out->clear();
    const std::uint64_t end = start + count, bytesEnd = offset + bytes.size();
    std::string part;
    const auto take = [&](std::uint64_t from, std::uint64_t until, std::uint64_t fileShift) {
      if (from >= until)
        return true;
      part.assign(std::size_t(until - from), '\0');
      if (!ReadFileAt(file, from + fileShift, &part[0], part.size()))
        return false;
      out->append(part);
      return true;
    };
    if (!take(start, std::min(end, offset), 0))
      return false;
    const std::uint64_t from = std::max(start, offset), until = std::min(end, bytesEnd);
    if (from < until)
      out->append(bytes, std::size_t(from - offset), std::size_t(until - from));
    if (!take(std::max(start, bytesEnd), end, shift))
      return false;
    OverlayField(start, fieldAt, field, out);
    return true;
  };
}

// What a save cut short left of a file, told by its size and checksums.
enum class SaveState { kRepaired, kOriginal, kWrittenInPlace, kRoomOpened, kEndMoved, kForeign };

SaveState StateOf(NativeFile* file, const SaveRecord& record) {
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  const std::uint64_t length = record.originalBytes.size();
  if (!FileSizeOf(file, &size))
    return SaveState::kForeign;  // nothing to tell: left alone
  if (size == record.repairedSize && size >= record.offset + record.repairedLength &&
      SampledChecksum(FileReader(file), size, record.offset, record.repairedLength, &crc) &&
      crc == record.repairedChecksum)
    return SaveState::kRepaired;
  if (size == record.originalSize && size >= record.offset + length &&
      SampledChecksum(FileReader(file), size, record.offset, length, &crc) &&
      crc == record.originalChecksum)
    return SaveState::kOriginal;  // untouched
  // Of the original length: written in place in part, or the new tag's
  // bytes reached the old tag's blocks while the room opened before them
  // was lost. The original bytes go back where they were.
  // Of the repaired length, grown by whole blocks from the start: room
  // opened before the tag, the new tag in part. The old tag goes back after
  // the room, and the room is taken out.
  // Of the repaired length, its end moved: the new end in part, or the old
  // one still there, the size field before it old or new. The old end and
  // size field go back, and the file its old length.
  const std::uint64_t inserted = record.repairedSize - record.originalSize;
  const bool inPlace = size == record.originalSize;
  const bool insert = size == record.repairedSize && WantsRoom(record);
  const bool endMoved = size == record.repairedSize && ChangesAtEnd(record);
  const std::uint64_t shift = insert ? inserted : 0;
  if (!(inPlace || insert || endMoved) ||
      size < record.offset + (endMoved ? 0 : length + shift))
    return SaveState::kForeign;
  const RangeReader restored = RestoredReader(file, record, record.originalBytes, shift);
  if (!SampledChecksum(restored, record.originalSize, record.offset, length, &crc) ||
      crc != record.originalChecksum)
    return SaveState::kForeign;  // changed by someone else since
  if (endMoved)
    return SaveState::kEndMoved;
  return insert ? SaveState::kRoomOpened : SaveState::kWrittenInPlace;
}

}  // namespace

bool RecoverRecordedSave(const PathString& path, const SaveRecord& record, bool* leftOriginal) {
  bool isOriginal = false;
  if (!leftOriginal)
    leftOriginal = &isOriginal;
  *leftOriginal = false;
  const PathString target = ResolveFileLinks(path);
  if (!RecoverInterruptedSave(target))
    return false;
  // A copy not yet put in the file's place: the file is still its original.
  if (!RemoveFileIfPresent(CopyPathFor(target)))
    return false;
  NativeFile* file = OpenExistingFile(target, false);
  if (!file)
    return true;  // gone, or no longer a file: nothing of ours to finish
  const SaveState state = StateOf(file, record);
  CloseNativeFile(file);
  *leftOriginal = state == SaveState::kOriginal;
  if (state == SaveState::kRepaired || state == SaveState::kOriginal ||
      state == SaveState::kForeign)
    return true;
  NativeFile* writer = OpenExistingFile(target, true);
  if (!writer)
    return false;
  const std::string& original = record.originalBytes;
  bool restored = false;
  if (state == SaveState::kRoomOpened) {
    const std::uint64_t inserted = record.repairedSize - record.originalSize;
    restored = WriteFileAt(writer, inserted, original.data(), original.size()) &&
               CollapseFileRange(writer, 0, inserted) && FlushNativeFile(writer);
  } else {
    const std::string& field = record.sizeFieldOriginal;
    restored = (field.empty() ||
                WriteFileAt(writer, record.sizeFieldAt, field.data(), field.size())) &&
               WriteFileAt(writer, record.offset, original.data(), original.size()) &&
               (state != SaveState::kEndMoved ||
                TruncateNativeFile(writer, record.originalSize)) &&
               FlushNativeFile(writer);
  }
  CloseNativeFile(writer);
  *leftOriginal = restored;
  return restored;
}
