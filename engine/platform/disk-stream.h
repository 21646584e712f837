// A read-only TagLib stream over the DiskInterface, so that reading a tag
// goes through the same seam as every other file operation: it opens with
// OpenExistingFile (regular files only) and reads with ReadFileAt.
#pragma once

#include <cstdint>
#include <string>

#include <taglib/tiostream.h>

#include "engine/platform/disk.h"
#include "engine/platform/platform.h"

class DiskReadStream : public TagLib::IOStream {
 public:
  explicit DiskReadStream(const PathString& path);
  ~DiskReadStream() override;
  DiskReadStream(const DiskReadStream&) = delete;
  DiskReadStream& operator=(const DiskReadStream&) = delete;

  TagLib::FileName name() const override;
  // Up to `length` bytes from the position on; fewer at the end of the
  // file, none when a read fails.
  TagLib::ByteVector readBlock(unsigned long length) override;
  // Nothing is written through this stream.
  void writeBlock(const TagLib::ByteVector&) override {}
  void insert(const TagLib::ByteVector&, unsigned long = 0, unsigned long = 0) override {}
  void removeBlock(unsigned long = 0, unsigned long = 0) override {}
  void truncate(long) override {}
  bool readOnly() const override { return true; }
  bool isOpen() const override { return file_ != nullptr; }
  void seek(long offset, Position p = Beginning) override;
  long tell() const override { return long(position_); }
  long length() override { return long(size_); }

 private:
  bool ReadAt(std::uint64_t offset, std::size_t count, char* out);

  PathString path_;
  NativeFile* file_ = nullptr;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;
  BlockCache cache_;
};
