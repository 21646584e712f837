#include "engine/disk-stream.h"

#include <algorithm>
#include <cstring>

namespace {

// The cached block, and the largest read it serves (larger reads go to the
// disk whole).
constexpr std::uint64_t kBlock = 8 * 1024;
constexpr std::uint64_t kCachedRead = kBlock / 2;

}  // namespace

DiskReadStream::DiskReadStream(const PathString& path) : path_(path) {
  file_ = OpenExistingFile(path, false);
  if (file_ && !FileSizeOf(file_, &size_)) {
    CloseNativeFile(file_);
    file_ = nullptr;
  }
}

DiskReadStream::~DiskReadStream() {
  CloseNativeFile(file_);
}

TagLib::FileName DiskReadStream::name() const {
  return path_.c_str();
}

void DiskReadStream::seek(long offset, Position p) {
  long base = 0;
  if (p == Current)
    base = long(position_);
  if (p == End)
    base = long(size_);
  position_ = std::uint64_t(std::max(0L, base + offset));
}

bool DiskReadStream::ReadAt(std::uint64_t offset, std::size_t count, char* out) {
  const auto cached = [&] {
    return offset >= cacheOffset_ && offset + count <= cacheOffset_ + cache_.size();
  };
  if (!cached() && count <= kCachedRead) {
    // The block around the read, as far as the file goes, from a 4 KiB
    // boundary.
    std::uint64_t start = offset > kBlock / 2 ? offset - kBlock / 2 : 0;
    start -= start % 4096;
    const std::uint64_t end = std::min(size_, start + kBlock);
    cache_.resize(std::size_t(end - start));
    cacheOffset_ = start;
    if (!ReadFileAt(file_, start, &cache_[0], cache_.size()))
      cache_.clear();
  }
  if (!cached())
    return ReadFileAt(file_, offset, out, count);
  std::memcpy(out, cache_.data() + (offset - cacheOffset_), count);
  return true;
}

TagLib::ByteVector DiskReadStream::readBlock(unsigned long length) {
  if (!file_ || position_ >= size_ || length == 0)
    return TagLib::ByteVector();
  const std::size_t count = std::size_t(std::min<std::uint64_t>(length, size_ - position_));
  TagLib::ByteVector data(static_cast<unsigned int>(count), '\0');
  if (!ReadAt(position_, count, data.data()))
    return TagLib::ByteVector();
  position_ += count;
  return data;
}
