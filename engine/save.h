// Crash-safe saving. TagLib decides and renders every change, but into an
// EditStream, which records the changes instead of moving bytes on disk.
// CommitEdits then brings the file to exactly the bytes TagLib's own in-place
// save would leave, in a way that never leaves it half written:
//  - when the length stays (the tag fits in its padding), the region that
//    changes is kept in a journal beside the file, flushed, then overwritten
//    in place; the next run restores the region from a journal it finds;
//  - when the length changes, a copy is written beside the file (the audio by
//    kernel-side copy), flushed, and renamed over the original. A file with
//    several hard links, or whose owner the copy cannot take, is rewritten in
//    place under a journal of everything from the first changed byte on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <taglib/tiostream.h>

#include "engine/engine.h"
#include "engine/platform.h"

class EditStream : public TagLib::IOStream {
 public:
  // Reads `target`, the file `path` names with links followed (see
  // ResolveFileLinks); writes are only recorded. TagLib sees `path`.
  EditStream(const PathString& path, const PathString& target);
  explicit EditStream(const PathString& path) : EditStream(path, ResolveFileLinks(path)) {}
  ~EditStream() override;

  TagLib::FileName name() const override;
  TagLib::ByteVector readBlock(unsigned long length) override;
  void writeBlock(const TagLib::ByteVector& data) override;
  void insert(const TagLib::ByteVector& data, unsigned long start = 0,
              unsigned long replace = 0) override;
  void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
  bool readOnly() const override { return false; }
  bool isOpen() const override { return file_ != nullptr; }
  void seek(long offset, Position p = Beginning) override;
  long tell() const override { return long(position_); }
  long length() override;
  void truncate(long length) override;

  // True when a recorded change makes the content differ from the file.
  bool Changed() const;

  // Describes what the recorded changes replace, with the CRC-32 of the file
  // before and after; reads the whole file once.
  bool DescribeChange(SaveRecord* record) const;

  // Writes the recorded content to the file, crash-safely. Closes the stream.
  bool CommitEdits();

  // The content from `start` up to `end`, written to `to` at `at`.
  bool WriteContent(NativeFile* to, std::uint64_t start, std::uint64_t end, std::uint64_t at) const;
  bool ReadContentRange(std::uint64_t start, std::uint64_t count, std::string* out) const {
    return ReadContent(start, count, out);
  }
  // How many bytes the recorded changes put in; changes nothing.
  std::uint64_t NewBytes() const;
  // The file being read (links followed), and its path.
  NativeFile* OriginalFile() const { return file_; }
  const PathString& target() const { return target_; }
  void CloseOriginal();

 private:
  // A run of the content: bytes of the original file, or new bytes.
  struct Piece {
    bool original = true;
    std::uint64_t offset = 0;  // in the original file, when original
    std::uint64_t length = 0;
    std::string bytes;  // when not original
  };

  void Splice(std::uint64_t start, std::uint64_t removeLength, const std::string& data);
  bool ReadContent(std::uint64_t start, std::uint64_t count, std::string* out) const;
  std::uint64_t ContentLength() const;
  // How many bytes from the start the content shares with the file.
  std::uint64_t UnchangedPrefix() const;

  bool ReadOriginal(std::uint64_t offset, std::size_t count, char* out) const;
  bool CommitInPlace(std::uint64_t from, std::uint64_t newLength);
  bool CommitByReplace(std::uint64_t newLength);
  bool WritePieces(NativeFile* to, std::uint64_t from) const;

  PathString path_;    // the name TagLib sees
  PathString target_;  // the file itself, links followed
  NativeFile* file_ = nullptr;
  std::uint64_t originalLength_ = 0;
  std::uint64_t position_ = 0;
  std::vector<Piece> pieces_;
  // TagLib reads in small steps near the start and the end of a file; one
  // block kept here spares most of those reads a system call.
  mutable std::string cache_;
  mutable std::uint64_t cacheOffset_ = 0;
};

// Brings the file `path` names, whose save `record` describes and which may
// have been cut short at any point, to its original or its complete repair:
// a save in place is undone by putting the original bytes back, an insert
// of blocks before the tag by putting the old tag back and taking the blocks
// out, and a copy that never replaced its file is removed. A file that is
// neither and would not become its original that way is left alone. False
// when the file could not be written.
bool RecoverRecordedSave(const PathString& path, const SaveRecord& record);

// Restores what a save that was cut short left behind for `target` (a file,
// links followed): a journal beside it puts its original bytes back.
// Returns false when a journal exists that cannot be applied.
bool RecoverInterruptedSave(const PathString& target);

// The size and checksum of the file `path` names, as a SaveRecord takes
// them for a save that replaced `length` bytes at `offset`; false when it
// cannot be read.
bool FileChecksum(const PathString& path, std::uint64_t offset, std::uint64_t length,
                  std::uint64_t* size, std::uint32_t* crc);

// Writes and flushes the journal of a save of `target` that will overwrite
// `originalBytes` at `offset` and leave the file no longer `originalLength`.
bool WriteJournal(const PathString& target, std::uint64_t originalLength, std::uint64_t offset,
                  const std::string& originalBytes);

// The names of the journal and the copy that a save of `path` uses; they
// never end in ".mp3".
PathString JournalPathFor(const PathString& path);
PathString CopyPathFor(const PathString& path);
