#include "engine/commit/edit.h"

#include <algorithm>
#include <cstring>

#include "engine/commit/checksum.h"

namespace {

// The block size of file systems that clone: copies aligned to it can share
// the original's blocks.
constexpr std::uint64_t kCloneBlock = 4096;

struct HandedFile {
  const PathString* path = nullptr;
  NativeFile* file = nullptr;
  std::string head;
};

thread_local HandedFile handed;

NativeFile* OpenOrTakeHandedOver(const PathString& path, const PathString& target) {
  if (handed.file && *handed.path == path) {
    NativeFile* file = handed.file;
    handed.file = nullptr;
    return file;
  }
  handed.head.clear();  // not this file's
  return OpenExistingFile(target, false);
}

}  // namespace

HandOver::HandOver(const PathString& path, NativeFile* file, std::string head) {
  handed.path = &path;
  handed.file = file;
  handed.head = file ? std::move(head) : std::string();
}

HandOver::~HandOver() {
  CloseNativeFile(handed.file);
  handed = HandedFile();
}

EditStream::EditStream(const PathString& path, const PathString& target)
    : path_(path), target_(target), file_(OpenOrTakeHandedOver(path, target)) {
  if (file_ && !FileSizeOf(file_, &originalLength_))
    originalLength_ = 0;
  head_.swap(handed.head);
  // Bytes handed over are the file's first ones only while it still has
  // them all.
  if (head_.size() != std::min(kChecksumEdge, originalLength_))
    head_.clear();
}

EditStream::~EditStream() {
  CloseNativeFile(file_);
}

TagLib::FileName EditStream::name() const {
  return path_.c_str();
}

std::uint64_t EditStream::NewLength() const {
  if (!edit_.recorded)
    return originalLength_;
  return originalLength_ - edit_.replaced + edit_.bytes.size();
}

bool EditStream::Changed() const {
  return edit_.recorded &&
         (edit_.replaced != 0 || !edit_.bytes.empty() || !edit_.sizeField.empty());
}

void EditStream::seek(long offset, Position p) {
  long base = 0;
  if (p == Current)
    base = long(position_);
  if (p == End)
    base = long(NewLength());
  position_ = std::uint64_t(std::max(0L, base + offset));
}

TagLib::ByteVector EditStream::readBlock(unsigned long length) {
  const std::uint64_t total = NewLength();
  const std::uint64_t start = std::min(position_, total);
  const std::uint64_t count = std::min<std::uint64_t>(length, total - start);
  // Read straight into the block TagLib keeps: a tag of many megabytes is
  // not held twice.
  TagLib::ByteVector bytes(static_cast<unsigned int>(count), '\0');
  if (count && !ReadContent(start, count, bytes.data()))
    bytes.clear();
  position_ = start + bytes.size();
  return bytes;
}

void EditStream::insert(const TagLib::ByteVector& data, unsigned long start,
                        unsigned long replace) {
  Replace(start, replace, std::string(data.data(), data.size()));
}

void EditStream::Replace(std::uint64_t start, std::uint64_t replace, std::string bytes) {
  if (edit_.recorded || start > originalLength_) {
    Fail();
    return;
  }
  edit_.recorded = true;
  edit_.offset = start;
  edit_.replaced = std::min<std::uint64_t>(replace, originalLength_ - start);
  edit_.bytes = std::move(bytes);
}

void EditStream::ReplaceSizeField(std::uint64_t at, std::string bytes) {
  if (!edit_.recorded || !edit_.sizeField.empty() || at + bytes.size() > edit_.offset ||
      at + bytes.size() > kChecksumEdge) {
    Fail();
    return;
  }
  edit_.sizeFieldAt = at;
  edit_.sizeField = std::move(bytes);
}

void EditStream::writeBlock(const TagLib::ByteVector&) {
  Fail();
}

void EditStream::removeBlock(unsigned long, unsigned long) {
  Fail();
}

void EditStream::truncate(long) {
  Fail();
}

bool EditStream::KeepHeadUpTo(std::uint64_t end) const {
  end = std::min(end, originalLength_);
  const std::size_t had = head_.size();
  if (end <= had)
    return true;
  head_.resize(std::size_t(end));
  if (ReadFileAt(file_, had, &head_[had], head_.size() - had))
    return true;
  head_.resize(had);
  return false;
}

void EditStream::ReleaseKeptBytes() const {
  if (edit_.recorded) {
    const std::uint64_t newEnd = edit_.offset + edit_.bytes.size();
    const std::uint64_t oldEnd = edit_.offset + edit_.replaced;
    const std::uint64_t rest = (kCloneBlock - newEnd % kCloneBlock) % kCloneBlock;
    const std::uint64_t until = std::min(oldEnd + rest, originalLength_);
    if (until > oldEnd && until <= head_.size()) {
      blockEnd_ = head_.substr(std::size_t(oldEnd), std::size_t(until - oldEnd));
      blockEndAt_ = oldEnd;
    }
  }
  std::string().swap(head_);
  std::string().swap(tail_);
  tailKept_ = false;
}

bool EditStream::ReadOriginal(std::uint64_t offset, std::size_t count, char* out) const {
  if (offset + count > originalLength_)
    return false;
  const std::uint64_t end = offset + count;
  if (!blockEnd_.empty() && offset >= blockEndAt_ && end <= blockEndAt_ + blockEnd_.size()) {
    std::memcpy(out, blockEnd_.data() + (offset - blockEndAt_), count);
    return true;
  }
  const std::uint64_t tailStart = originalLength_ - std::min(originalLength_, kChecksumEdge);
  if (end <= kChecksumEdge && end > head_.size())
    KeepHeadUpTo(kChecksumEdge);
  // A read that runs on past the kept head (a tag of more than 64 KiB) keeps
  // the head up to 64 KiB past its end, read at once: TagLib, the repair and
  // the checksums read the tag and the audio after it again from there.
  if (!head_.empty() && offset <= head_.size() && end > head_.size() &&
      end + kChecksumEdge <= kMostKeptInHead)
    KeepHeadUpTo(end + kChecksumEdge);
  if (end <= head_.size()) {
    std::memcpy(out, head_.data() + offset, count);
    return true;
  }
  if (offset >= tailStart && !tailKept_) {
    tail_.resize(std::size_t(originalLength_ - tailStart));
    tailKept_ = ReadFileAt(file_, tailStart, &tail_[0], tail_.size());
  }
  if (offset >= tailStart && tailKept_) {
    std::memcpy(out, tail_.data() + (offset - tailStart), count);
    return true;
  }
  return ReadThroughCache(file_, originalLength_, &cache_, offset, count, out);
}

// The content is three runs: the original before the edit, the new bytes,
// and the original after the replaced bytes; a size field lies over the
// first.
bool EditStream::ReadContent(std::uint64_t start, std::uint64_t count, std::string* out) const {
  if (!file_ || start + count > NewLength())
    return false;
  const std::size_t at = out->size();
  out->resize(at + std::size_t(count));
  if (count == 0 || ReadContent(start, count, &(*out)[at]))
    return true;
  out->resize(at);
  return false;
}

bool EditStream::ReadContent(std::uint64_t start, std::uint64_t count, char* to) const {
  if (!file_ || start + count > NewLength())
    return false;
  const std::uint64_t editStart = edit_.recorded ? edit_.offset : originalLength_;
  const std::uint64_t editEnd = editStart + edit_.bytes.size();
  const std::uint64_t end = start + count;
  const auto original = [&](std::uint64_t from, std::uint64_t until, std::uint64_t shift) {
    return from >= until ||
           ReadOriginal(from + shift, std::size_t(until - from), to + (from - start));
  };
  if (!original(start, std::min(end, editStart), 0))
    return false;
  const std::uint64_t from = std::max(start, editStart), until = std::min(end, editEnd);
  if (from < until)
    std::memcpy(to + (from - start), edit_.bytes.data() + (from - editStart),
                std::size_t(until - from));
  if (!original(std::max(start, editEnd), end, editStart + edit_.replaced - editEnd))
    return false;
  const std::uint64_t fieldEnd = edit_.sizeFieldAt + edit_.sizeField.size();
  const std::uint64_t fieldFrom = std::max(start, edit_.sizeFieldAt);
  if (fieldFrom < std::min(end, fieldEnd))
    std::memcpy(to + (fieldFrom - start), edit_.sizeField.data() + (fieldFrom - edit_.sizeFieldAt),
                std::size_t(std::min(end, fieldEnd) - fieldFrom));
  return true;
}

bool EditStream::WriteContent(NativeFile* to, std::uint64_t start, std::uint64_t end,
                              std::uint64_t at) const {
  const std::uint64_t editStart = edit_.recorded ? edit_.offset : originalLength_;
  const std::uint64_t editEnd = editStart + edit_.bytes.size();
  // Where the copy sits at the same place within a 4 KiB block as the
  // original (a tag grown by whole blocks), the part from the first block
  // boundary on is a whole-block copy, which file systems that share blocks
  // between files (btrfs, XFS) clone instead of copying.
  const auto original = [&](std::uint64_t from, std::uint64_t until, std::uint64_t shift) {
    if (from >= until)
      return true;
    std::uint64_t source = from + shift, target = at + from - start, count = until - from;
    const std::uint64_t head = (kCloneBlock - source % kCloneBlock) % kCloneBlock;
    if (source % kCloneBlock == target % kCloneBlock && head != 0 && head < count) {
      if (!CopyFileRange(file_, source, to, target, head))
        return false;
      source += head;
      target += head;
      count -= head;
    }
    return CopyFileRange(file_, source, to, target, count);
  };
  if (!original(start, std::min(end, editStart), 0))
    return false;
  const std::uint64_t from = std::max(start, editStart), until = std::min(end, editEnd);
  if (from < until && !WriteFileAt(to, at + from - start, edit_.bytes.data() + (from - editStart),
                                   std::size_t(until - from)))
    return false;
  if (!original(std::max(start, editEnd), end, editStart + edit_.replaced - editEnd))
    return false;
  const std::uint64_t fieldEnd = edit_.sizeFieldAt + edit_.sizeField.size();
  const std::uint64_t fieldFrom = std::max(start, edit_.sizeFieldAt);
  return fieldFrom >= std::min(end, fieldEnd) ||
         WriteFileAt(to, at + fieldFrom - start,
                     edit_.sizeField.data() + (fieldFrom - edit_.sizeFieldAt),
                     std::size_t(std::min(end, fieldEnd) - fieldFrom));
}

void EditStream::CloseOriginal() {
  CloseNativeFile(file_);
  file_ = nullptr;
}
