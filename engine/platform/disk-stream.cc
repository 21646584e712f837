#include "engine/platform/disk-stream.h"

#include <algorithm>

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
  return ReadThroughCache(file_, size_, &cache_, offset, count, out);
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
