// What a repair will write: one edit (new bytes in place of a run of the
// original's bytes) over the original file, kept open. TagLib reads the file
// through it as a TagLib stream; the repair then records its one edit with
// insert(). Nothing reaches the disk until a commit (engine/commit/group-commit.h,
// or CommitEdits below on its own).
#pragma once

#include <cstdint>
#include <string>

#include <taglib/tiostream.h>

#include "engine/engine.h"
#include "engine/platform/platform.h"

// New bytes in place of `replaced` bytes at `offset` of the original, and
// where the range's change of size must be written before it too, a size
// field of the same length at `sizeFieldAt` (in the first 64 KiB, before
// the range; none when `sizeField` is empty).
struct Edit {
  bool recorded = false;
  std::uint64_t offset = 0;
  std::uint64_t replaced = 0;
  std::string bytes;
  std::uint64_t sizeFieldAt = 0;
  std::string sizeField;
};

// Hands a file already open (to tell which file it is) to the next
// EditStream this thread makes for `path`, which then reads it instead of
// opening the file again. What is not taken is closed with the hand-over.
// `head`, when given, is the file's first bytes already read (up to 64 KiB,
// as far as the file goes); the stream keeps them instead of reading them.
class HandOver {
 public:
  HandOver(const PathString& path, NativeFile* file, std::string head = std::string());
  ~HandOver();
  HandOver(const HandOver&) = delete;
  HandOver& operator=(const HandOver&) = delete;
};

class EditStream : public TagLib::IOStream {
 public:
  // Reads `target`, the file `path` names with links followed (see
  // ResolveFileLinks). TagLib sees `path`.
  EditStream(const PathString& path, const PathString& target);
  explicit EditStream(const PathString& path) : EditStream(path, ResolveFileLinks(path)) {}
  ~EditStream() override;

  TagLib::FileName name() const override;
  TagLib::ByteVector readBlock(unsigned long length) override;
  // Records the one edit. A second one, and every other way of writing,
  // marks the stream failed instead: TagLib only reads here, and a write it
  // made by surprise must never be committed as if it were the repair.
  void insert(const TagLib::ByteVector& data, unsigned long start = 0,
              unsigned long replace = 0) override;
  // The same for the repair's own edit, taking its bytes without a copy.
  void Replace(std::uint64_t start, std::uint64_t replace, std::string bytes);
  // Adds the edit's size field (see Edit), after Replace; a field that is
  // not before the edit's range or not in the first 64 KiB marks the
  // stream failed.
  void ReplaceSizeField(std::uint64_t at, std::string bytes);
  void writeBlock(const TagLib::ByteVector& data) override;
  void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
  void truncate(long length) override;
  bool readOnly() const override { return false; }
  bool isOpen() const override { return file_ != nullptr; }
  void seek(long offset, Position p = Beginning) override;
  long tell() const override { return long(position_); }
  long length() override { return long(NewLength()); }

  // True when an unsupported write was attempted: nothing may be committed.
  bool failed() const { return failed_; }
  // True when the edit makes the content differ from the file.
  bool Changed() const;
  const Edit& edit() const { return edit_; }
  std::uint64_t OriginalLength() const { return originalLength_; }
  std::uint64_t NewLength() const;
  // How many new bytes the edit puts in.
  std::uint64_t NewBytes() const { return edit_.bytes.size(); }

  // Describes what the edit replaces, with the sampled checksums of the file
  // before and after (engine/commit/checksum.cc), from the bytes already read where
  // they serve.
  bool DescribeChange(SaveRecord* record) const;
  // Lets go of the first and last bytes kept from the original; later reads
  // go to the file. The original's bytes that follow the edit up to the end
  // of the 4 KiB block where its new bytes end stay, when the head held
  // them: a tag written in whole blocks never has the file system read the
  // rest of its last block back from the disk.
  void ReleaseKeptBytes() const;

  // Writes the edited content to the file on its own, crash-safely, under a
  // journal beside it (engine/commit/file-commit.cc). Closes the stream.
  bool CommitEdits();

  // The content from `start` up to `end`, written to `to` at `at`.
  bool WriteContent(NativeFile* to, std::uint64_t start, std::uint64_t end, std::uint64_t at) const;
  // `count` bytes of the content from `start` (appended to `out`, or
  // written to `to`).
  bool ReadContent(std::uint64_t start, std::uint64_t count, std::string* out) const;
  bool ReadContent(std::uint64_t start, std::uint64_t count, char* to) const;
  // The file being read (links followed), and its path.
  NativeFile* OriginalFile() const { return file_; }
  const PathString& target() const { return target_; }
  void CloseOriginal();

 private:
  bool ReadOriginal(std::uint64_t offset, std::size_t count, char* out) const;
  // The original's first bytes up to `end` (as far as the file goes) in
  // `head_`, read on from what it holds; false when they cannot be read.
  bool KeepHeadUpTo(std::uint64_t end) const;
  void Fail() { failed_ = true; }

  PathString path_;    // the name TagLib sees
  PathString target_;  // the file itself, links followed
  NativeFile* file_ = nullptr;
  std::uint64_t originalLength_ = 0;
  std::uint64_t position_ = 0;
  Edit edit_;
  bool failed_ = false;
  // The original's first and last 64 KiB, each read at once the first time
  // a read falls in them: TagLib's many reads near the start and the end of
  // a file, the repair's reading of its tag and the checksums' samples of
  // both ends all come from them. Other reads go through `cache_`.
  mutable std::string head_;  // from the file's start
  mutable std::string tail_;  // up to the file's end
  mutable bool tailKept_ = false;
  // What ReleaseKeptBytes keeps after the edit, from `blockEndAt_` of the
  // original on.
  mutable std::string blockEnd_;
  mutable std::uint64_t blockEndAt_ = 0;
  mutable BlockCache cache_;
};
