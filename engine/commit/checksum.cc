#include "engine/commit/checksum.h"

#include <algorithm>
#include <utility>

#include "engine/commit/crc32.h"
#include "engine/commit/edit.h"

bool SampledChecksum(const RangeReader& read, std::uint64_t size, std::uint64_t offset,
                     std::uint64_t length, std::uint32_t* crc, KnownParts known) {
  const std::uint64_t edge = std::min(kChecksumEdge, size);
  const std::pair<std::uint64_t, std::uint64_t> ranges[] = {
      {0, edge}, {offset, length}, {size - edge, edge}};
  std::uint32_t value = 0;
  std::string bytes;
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& [start, count] = ranges[i];
    if (i == 2 && known.endChecksum) {
      value = Crc32Combine(value, *known.endChecksum, count);
      break;
    }
    const std::string* part = &bytes;
    if (i == 1 && known.replaced && known.replacedFrom + known.replaced->size() == count) {
      bytes.clear();
      if (known.replacedFrom &&
          (!read(start, known.replacedFrom, &bytes) || bytes.size() != known.replacedFrom))
        return false;
      value = Crc32(value, bytes.data(), bytes.size());
      part = known.replaced;
    } else {
      bytes.clear();
      if (!read(start, count, &bytes) || bytes.size() != count)
        return false;
    }
    value = Crc32(value, part->data(), part->size());
  }
  *crc = value;
  return true;
}

RangeReader FileReader(NativeFile* file) {
  return [file](std::uint64_t offset, std::uint64_t count, std::string* out) {
    out->assign(std::size_t(count), '\0');
    return count == 0 || ReadFileAt(file, offset, &(*out)[0], out->size());
  };
}

void OverlayField(std::uint64_t start, std::uint64_t at, const std::string& field,
                  std::string* out) {
  const std::uint64_t from = std::max(start, at);
  const std::uint64_t until = std::min<std::uint64_t>(start + out->size(), at + field.size());
  if (from < until)
    out->replace(std::size_t(from - start), std::size_t(until - from), field,
                 std::size_t(from - at), std::size_t(until - from));
}

namespace {

// Reads the content with `edit` applied to what `original` reads.
RangeReader EditedReader(const RangeReader& original, const Edit& edit) {
  return [original, &edit](std::uint64_t start, std::uint64_t count, std::string* out) {
    out->clear();
    const std::uint64_t end = start + count, editEnd = edit.offset + edit.bytes.size();
    std::string part;
    const auto take = [&](std::uint64_t from, std::uint64_t until, std::uint64_t at) {
      if (from >= until)
        return true;
      if (!original(at, until - from, &part))
        return false;
      out->append(part);
      return true;
    };
    if (!take(start, std::min(end, edit.offset), start))
      return false;
    const std::uint64_t from = std::max(start, edit.offset), until = std::min(end, editEnd);
    if (from < until)
      out->append(edit.bytes, std::size_t(from - edit.offset), std::size_t(until - from));
    const std::uint64_t after = std::max(start, editEnd);
    if (!take(after, end, after - editEnd + edit.offset + edit.replaced))
      return false;
    OverlayField(start, edit.sizeFieldAt, edit.sizeField, out);
    return true;
  };
}

// Bytes in memory that stand for a content from its start: up to three
// runs, one after the other.
struct HeldContent {
  std::pair<const char*, std::uint64_t> runs[3];

  std::uint64_t Size() const { return runs[0].second + runs[1].second + runs[2].second; }
};

// Goes on with `crc` over `count` bytes of `content` from `start`.
std::uint32_t CrcOfHeld(const HeldContent& content, std::uint64_t start, std::uint64_t count,
                        std::uint32_t crc) {
  for (const auto& [data, size] : content.runs) {
    if (count == 0)
      break;
    if (start >= size) {
      start -= size;
      continue;
    }
    const std::uint64_t take = std::min(count, size - start);
    crc = Crc32(crc, data + start, std::size_t(take));
    start = 0;
    count -= take;
  }
  return crc;
}

// The sampled checksum of SampledChecksum, of a content held in memory as far
// as its samples go (the end's checksum may be given instead): nothing is
// copied, and where the changed range begins at the start, the bytes both
// hold are summed once. False when the content does not reach the samples.
bool SampledHeld(const HeldContent& content, std::uint64_t size, std::uint64_t offset,
                 std::uint64_t length, const std::uint32_t* endChecksum, std::uint32_t* crc) {
  const std::uint64_t edge = std::min(kChecksumEdge, size);
  const std::uint64_t held = content.Size();
  if (held < std::max(edge, offset + length) || (!endChecksum && held < size))
    return false;
  const std::uint32_t empty = 0;
  std::uint32_t start = 0, changed = 0;
  if (offset == 0) {
    const std::uint64_t shorter = std::min(edge, length), longer = std::max(edge, length);
    const std::uint32_t prefix = CrcOfHeld(content, 0, shorter, empty);
    const std::uint32_t whole = CrcOfHeld(content, shorter, longer - shorter, prefix);
    start = edge <= length ? prefix : whole;
    changed = edge <= length ? whole : prefix;
  } else {
    start = CrcOfHeld(content, 0, edge, empty);
    changed = CrcOfHeld(content, offset, length, empty);
  }
  const std::uint32_t end =
      endChecksum ? *endChecksum : CrcOfHeld(content, size - edge, edge, empty);
  *crc = Crc32Combine(Crc32Combine(start, changed, length), end, edge);
  return true;
}

}  // namespace

// The original's start up to 64 KiB past the replaced bytes gives the
// replaced bytes and both starts, and its last 64 KiB both ends, summed once
// for both checksums: the stream keeps both ends once read, so what TagLib
// and the repair read already is not read again.
bool EditStream::DescribeChange(SaveRecord* record) const {
  if (!file_ || failed_ || !edit_.recorded)
    return false;
  const std::uint64_t newLength = NewLength();
  // What changes: the edit, or from the file's start when the length
  // changes, since taking back blocks opened before the tag needs the whole
  // old tag. An edit that runs to the file's end (a tag there) is recorded
  // alone whatever its length: the end moves, not the audio.
  const std::uint64_t oldEnd = edit_.offset + edit_.replaced;
  const bool atEnd = oldEnd == originalLength_;
  const std::uint64_t from = newLength != originalLength_ && !atEnd ? 0 : edit_.offset;
  const std::uint64_t newEnd = edit_.offset + edit_.bytes.size();
  record->offset = from;
  record->originalSize = originalLength_;
  record->repairedSize = newLength;
  record->repairedLength = newEnd - from;
  record->sizeFieldAt = edit_.sizeFieldAt;
  record->sizeFieldRepaired = edit_.sizeField;
  record->sizeFieldOriginal.assign(edit_.sizeField.size(), '\0');
  if (!edit_.sizeField.empty() &&
      !ReadOriginal(edit_.sizeFieldAt, edit_.sizeField.size(), &record->sizeFieldOriginal[0]))
    return false;
  // A large tag (a picture of many megabytes) is read once, straight into
  // the record, rather than kept in the head as well.
  const bool inHead = oldEnd + kChecksumEdge <= kMostKeptInHead;
  if (inHead) {
    if (!KeepHeadUpTo(oldEnd + kChecksumEdge))
      return false;
    record->originalBytes = head_.substr(std::size_t(from), std::size_t(oldEnd - from));
  } else {
    record->originalBytes.assign(std::size_t(oldEnd - from), '\0');
    if (oldEnd > from && !ReadOriginal(from, std::size_t(oldEnd - from), &record->originalBytes[0]))
      return false;
  }
  const RangeReader original = [this](std::uint64_t offset, std::uint64_t count, std::string* out) {
    out->assign(std::size_t(count), '\0');
    return count == 0 || ReadOriginal(offset, std::size_t(count), &(*out)[0]);
  };
  const RangeReader repaired = EditedReader(original, edit_);

  // Where both ends are the same bytes of the unchanged audio, they are
  // read and summed once.
  const std::uint64_t edge = std::min(kChecksumEdge, originalLength_);
  std::uint32_t endChecksum = 0;
  KnownParts known;
  known.replaced = &record->originalBytes;
  if (edge == std::min(kChecksumEdge, newLength) && originalLength_ - oldEnd >= edge) {
    std::string end;
    if (!original(originalLength_ - edge, edge, &end))
      return false;
    endChecksum = Crc32(0, end.data(), end.size());
    known.endChecksum = &endChecksum;
  }
  // With the start kept up to 64 KiB past the old tag, both contents are
  // in memory as far as their samples go (the edited one without a size
  // field over it).
  if (inHead && edit_.sizeField.empty()) {
    const std::uint64_t kept = head_.size();
    const HeldContent before{{{head_.data(), kept}, {nullptr, 0}, {nullptr, 0}}};
    const HeldContent after{{{head_.data(), edit_.offset},
                             {edit_.bytes.data(), edit_.bytes.size()},
                             {head_.data() + oldEnd, kept - oldEnd}}};
    if (SampledHeld(before, originalLength_, from, oldEnd - from, known.endChecksum,
                    &record->originalChecksum) &&
        SampledHeld(after, newLength, from, newEnd - from, known.endChecksum,
                    &record->repairedChecksum))
      return true;
  }
  if (!SampledChecksum(original, originalLength_, from, oldEnd - from, &record->originalChecksum,
                       known))
    return false;
  // The new bytes are summed where they are, never copied: a size field
  // lies before them.
  known.replaced = nullptr;
  if (edit_.sizeField.empty() || edit_.sizeFieldAt + edit_.sizeField.size() <= edit_.offset) {
    known.replaced = &edit_.bytes;
    known.replacedFrom = edit_.offset - from;
  }
  return SampledChecksum(repaired, newLength, from, newEnd - from, &record->repairedChecksum,
                         known);
}

bool FileChecksum(NativeFile* file, std::uint64_t offset, std::uint64_t length, std::uint64_t* size,
                  std::uint32_t* crc) {
  return FileSizeOf(file, size) && offset + length <= *size &&
         SampledChecksum(FileReader(file), *size, offset, length, crc);
}
