#include "engine/save.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include <zlib.h>

namespace {

// Tags grow by whole blocks of this size, so that the file system can open
// room for them before the audio.
constexpr std::uint64_t kTagBlock = 4096;
// The block size of file systems that clone: copies aligned to it can share
// the original's blocks.
constexpr std::uint64_t kCloneBlock = 4096;

// FNV-1a, 64 bits: enough to tell a whole journal from a torn one.
std::uint64_t Checksum(const char* data, std::size_t count,
                       std::uint64_t hash = 14695981039346656037ull) {
  for (std::size_t i = 0; i < count; ++i) {
    hash ^= static_cast<unsigned char>(data[i]);
    hash *= 1099511628211ull;
  }
  return hash;
}

std::uint64_t Checksum(const std::string& data) {
  return Checksum(data.data(), data.size());
}

void PutNumber(std::string* out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i)
    out->push_back(char((value >> (8 * i)) & 0xFF));
}

std::uint64_t GetNumber(const std::string& in, std::size_t at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(in[at + i]);
  return value;
}

// Journal: magic, original length, offset, byte count, the original bytes
// from that offset, and a checksum of all that precedes it.
const char kJournalMagic[] = "SWJ2";
constexpr std::size_t kJournalHeader = 4 + 8 + 8 + 8 + 8 + 8;

struct Journal {
  // The file it belongs to: a file put in its place since is left alone.
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  std::uint64_t originalLength = 0;
  std::uint64_t offset = 0;
  std::string bytes;
};

std::string EncodeJournal(const Journal& journal) {
  std::string data(kJournalMagic, 4);
  PutNumber(&data, journal.device);
  PutNumber(&data, journal.index);
  PutNumber(&data, journal.originalLength);
  PutNumber(&data, journal.offset);
  PutNumber(&data, journal.bytes.size());
  data += journal.bytes;
  PutNumber(&data, Checksum(data));
  return data;
}

bool DecodeJournal(const std::string& data, Journal* journal) {
  if (data.size() < kJournalHeader + 8 || data.compare(0, 4, kJournalMagic) != 0)
    return false;
  const std::uint64_t count = GetNumber(data, kJournalHeader - 8);
  if (count != data.size() - kJournalHeader - 8)
    return false;
  if (GetNumber(data, data.size() - 8) != Checksum(data.data(), data.size() - 8))
    return false;
  journal->device = GetNumber(data, 4);
  journal->index = GetNumber(data, 12);
  journal->originalLength = GetNumber(data, 20);
  journal->offset = GetNumber(data, 28);
  journal->bytes = data.substr(kJournalHeader, std::size_t(count));
  return true;
}

bool ReadWholeFile(NativeFile* file, std::string* out) {
  std::uint64_t size = 0;
  if (!FileSizeOf(file, &size))
    return false;
  out->assign(std::size_t(size), '\0');
  return size == 0 || ReadFileAt(file, 0, &(*out)[0], out->size());
}

// Puts the journal's original bytes back and gives the file its length.
bool ApplyJournal(NativeFile* file, const Journal& journal) {
  return WriteFileAt(file, journal.offset, journal.bytes.data(), journal.bytes.size()) &&
         TruncateNativeFile(file, journal.originalLength) && FlushNativeFile(file);
}

std::size_t NameStart(const PathString& path) {
  const std::size_t separator = path.find_last_of(PATH_TEXT("/\\"));
  return separator == PathString::npos ? 0 : separator + 1;
}

PathString FolderOf(const PathString& path) {
  const std::size_t start = NameStart(path);
  return start == 0 ? PathString(PATH_TEXT(".")) : path.substr(0, start);
}

// A hidden name beside `path` made from a hash of its name, so that it stays
// short whatever the name and never ends in ".mp3".
PathString SidePath(const PathString& path, const char* kind) {
  const std::size_t start = NameStart(path);
  std::uint64_t hash = 14695981039346656037ull;
  for (std::size_t i = start; i < path.size(); ++i) {
    const auto c = static_cast<std::uint64_t>(path[i]);
    for (int b = 0; b < int(sizeof(PathChar)); ++b) {
      hash ^= (c >> (8 * b)) & 0xFF;
      hash *= 1099511628211ull;
    }
  }
  static const char kHex[] = "0123456789abcdef";
  PathString side = path.substr(0, start) + PATH_TEXT(".songwright-");
  for (int shift = 60; shift >= 0; shift -= 4)
    side.push_back(PathChar(kHex[(hash >> shift) & 15]));
  side.push_back(PathChar('.'));
  for (const char* k = kind; *k; ++k)
    side.push_back(PathChar(*k));
  return side;
}

}  // namespace

PathString JournalPathFor(const PathString& path) {
  return SidePath(path, "journal");
}

bool WriteJournal(const PathString& target, std::uint64_t originalLength, std::uint64_t offset,
                  const std::string& originalBytes) {
  const PathString journalPath = JournalPathFor(target);
  Journal journal{0, 0, originalLength, offset, originalBytes};
  NativeFile* file = OpenExistingFile(target, false);
  const bool identified = file && IdentifyFile(file, &journal.device, &journal.index);
  CloseNativeFile(file);
  if (!identified || !RemoveFileIfPresent(journalPath))
    return false;
  NativeFile* journalFile = CreateNewFile(journalPath);
  if (!journalFile)
    return false;
  const std::string data = EncodeJournal(journal);
  const bool journaled =
      WriteFileAt(journalFile, 0, data.data(), data.size()) && FlushNativeFile(journalFile);
  CloseNativeFile(journalFile);
  if (!journaled) {
    RemoveFileIfPresent(journalPath);
    return false;
  }
  FlushFolder(FolderOf(target));  // the journal must outlast a crash that follows
  return true;
}
PathString CopyPathFor(const PathString& path) {
  return SidePath(path, "tmp");
}

bool RecoverInterruptedSave(const PathString& target) {
  const PathString journalPath = JournalPathFor(target);
  NativeFile* journalFile = OpenExistingFile(journalPath, false);
  if (!journalFile)
    return true;  // the usual case: nothing was cut short
  std::string data;
  const bool read = ReadWholeFile(journalFile, &data);
  CloseNativeFile(journalFile);
  Journal journal;
  if (!read || !DecodeJournal(data, &journal)) {
    // Torn while it was written, so the file itself was not touched yet.
    return RemoveFileIfPresent(journalPath);
  }
  NativeFile* file = OpenExistingFile(target, true);
  if (!file)
    return false;
  std::uint64_t device = 0, index = 0;
  if (!IdentifyFile(file, &device, &index) || device != journal.device || index != journal.index) {
    // Another file took this name since; the journal is not its own.
    CloseNativeFile(file);
    return RemoveFileIfPresent(journalPath);
  }
  const bool restored = ApplyJournal(file, journal);
  CloseNativeFile(file);
  return restored && RemoveFileIfPresent(journalPath);
}

// --- EditStream --------------------------------------------------------------

EditStream::EditStream(const PathString& path, const PathString& target)
    : path_(path), target_(target), file_(OpenExistingFile(target_, false)) {
  if (file_ && FileSizeOf(file_, &originalLength_) && originalLength_ > 0) {
    pieces_.push_back(Piece{true, 0, originalLength_, std::string()});
  }
}

EditStream::~EditStream() {
  CloseNativeFile(file_);
}

TagLib::FileName EditStream::name() const {
  return path_.c_str();
}

std::uint64_t EditStream::ContentLength() const {
  std::uint64_t total = 0;
  for (const Piece& piece : pieces_)
    total += piece.length;
  return total;
}

long EditStream::length() {
  return long(ContentLength());
}

void EditStream::seek(long offset, Position p) {
  long base = 0;
  if (p == Current)
    base = long(position_);
  if (p == End)
    base = long(ContentLength());
  position_ = std::uint64_t(std::max(0L, base + offset));
}

bool EditStream::ReadOriginal(std::uint64_t offset, std::size_t count, char* out) const {
  constexpr std::uint64_t kBlock = 8 * 1024;
  const auto cached = [&] {
    return offset >= cacheOffset_ && offset + count <= cacheOffset_ + cache_.size();
  };
  if (!cached() && count <= kBlock / 2 && offset + count <= originalLength_) {
    // The block around the read, as far as the file goes.
    std::uint64_t start = offset > kBlock / 2 ? offset - kBlock / 2 : 0;
    start -= start % 4096;
    const std::uint64_t end = std::min(originalLength_, start + kBlock);
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

bool EditStream::ReadContent(std::uint64_t start, std::uint64_t count, std::string* out) const {
  std::uint64_t pieceStart = 0;
  for (const Piece& piece : pieces_) {
    const std::uint64_t pieceEnd = pieceStart + piece.length;
    if (count > 0 && start < pieceEnd && start >= pieceStart) {
      const std::uint64_t within = start - pieceStart;
      const std::uint64_t take = std::min(count, piece.length - within);
      if (piece.original) {
        const std::size_t at = out->size();
        out->resize(at + std::size_t(take));
        if (!ReadOriginal(piece.offset + within, std::size_t(take), &(*out)[at])) {
          out->resize(at);
          return false;
        }
      } else {
        out->append(piece.bytes, std::size_t(within), std::size_t(take));
      }
      start += take;
      count -= take;
    }
    pieceStart = pieceEnd;
  }
  return true;
}

TagLib::ByteVector EditStream::readBlock(unsigned long length) {
  std::string data;
  if (file_)
    ReadContent(position_, length, &data);
  position_ += data.size();
  return TagLib::ByteVector(data.data(), static_cast<unsigned int>(data.size()));
}

void EditStream::Splice(std::uint64_t start, std::uint64_t removeLength, const std::string& data) {
  const std::uint64_t total = ContentLength();
  if (start > total) {  // writing past the end leaves zeros in between
    pieces_.push_back(
        Piece{false, 0, start - total, std::string(std::size_t(start - total), '\0')});
  }
  const std::uint64_t end = std::min(start + removeLength, std::max(total, start));
  std::vector<Piece> spliced;
  std::uint64_t pieceStart = 0;
  bool inserted = false;
  auto insertData = [&] {
    if (!inserted && !data.empty())
      spliced.push_back(Piece{false, 0, data.size(), data});
    inserted = true;
  };
  for (Piece& piece : pieces_) {
    const std::uint64_t pieceEnd = pieceStart + piece.length;
    if (pieceEnd <= start || pieceStart >= end) {
      if (pieceStart >= end)
        insertData();
      spliced.push_back(std::move(piece));
    } else {
      if (pieceStart < start) {  // the part before the cut
        Piece head = piece;
        head.length = start - pieceStart;
        if (!head.original)
          head.bytes.resize(std::size_t(head.length));
        spliced.push_back(std::move(head));
      }
      insertData();
      if (pieceEnd > end) {  // the part after the cut
        Piece tail = piece;
        const std::uint64_t skip = end - pieceStart;
        tail.length = pieceEnd - end;
        if (tail.original) {
          tail.offset += skip;
        } else {
          tail.bytes = piece.bytes.substr(std::size_t(skip));
        }
        spliced.push_back(std::move(tail));
      }
    }
    pieceStart = pieceEnd;
  }
  insertData();
  pieces_ = std::move(spliced);
}

void EditStream::writeBlock(const TagLib::ByteVector& data) {
  Splice(position_, data.size(), std::string(data.data(), data.size()));
  position_ += data.size();
}

void EditStream::insert(const TagLib::ByteVector& data, unsigned long start,
                        unsigned long replace) {
  Splice(start, replace, std::string(data.data(), data.size()));
}

void EditStream::removeBlock(unsigned long start, unsigned long length) {
  Splice(start, length, std::string());
}

void EditStream::truncate(long length) {
  const std::uint64_t total = ContentLength();
  const std::uint64_t wanted = std::uint64_t(std::max(0L, length));
  if (wanted < total) {
    Splice(wanted, total - wanted, std::string());
  } else if (wanted > total) {
    Splice(total, 0, std::string(std::size_t(wanted - total), '\0'));
  }
}

std::uint64_t EditStream::UnchangedPrefix() const {
  std::uint64_t length = 0;
  for (const Piece& piece : pieces_) {
    if (!piece.original || piece.offset != length)
      break;
    length += piece.length;
  }
  return length;
}

bool EditStream::Changed() const {
  return UnchangedPrefix() != originalLength_ || ContentLength() != originalLength_;
}

namespace {

using RangeReader = std::function<bool(std::uint64_t offset, std::uint64_t count, std::string*)>;

// What tells a file from the same file changed: a CRC-32 of its first and
// last 64 KiB and of the bytes a save replaced, read as ranges. Reading the
// whole of every file would cost more than the repair itself; the size is
// compared besides. The caller may hand over what it has already read or
// summed: the replaced bytes, and the CRC-32 of the last 64 KiB.
constexpr std::uint64_t kEdge = 64 * 1024;

struct KnownParts {
  const std::string* replaced = nullptr;
  const uLong* endChecksum = nullptr;
};

bool SampledChecksum(const RangeReader& read, std::uint64_t size, std::uint64_t offset,
                     std::uint64_t length, std::uint32_t* crc, KnownParts known = {}) {
  const std::uint64_t edge = std::min(kEdge, size);
  const std::pair<std::uint64_t, std::uint64_t> ranges[] = {
      {0, edge}, {offset, length}, {size - edge, edge}};
  uLong value = crc32(0, nullptr, 0);
  std::string bytes;
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& [start, count] = ranges[i];
    if (i == 2 && known.endChecksum) {
      value = crc32_combine(value, *known.endChecksum, z_off_t(count));
      break;
    }
    const std::string* part = &bytes;
    if (i == 1 && known.replaced && known.replaced->size() == count) {
      part = known.replaced;
    } else {
      bytes.clear();
      if (!read(start, count, &bytes) || bytes.size() != count)
        return false;
    }
    value = crc32(value, reinterpret_cast<const Bytef*>(part->data()), uInt(part->size()));
  }
  *crc = std::uint32_t(value);
  return true;
}

RangeReader FileReader(NativeFile* file) {
  return [file](std::uint64_t offset, std::uint64_t count, std::string* out) {
    out->assign(std::size_t(count), '\0');
    return count == 0 || ReadFileAt(file, offset, &(*out)[0], out->size());
  };
}

}  // namespace

bool EditStream::DescribeChange(SaveRecord* record) const {
  if (!file_)
    return false;
  const std::uint64_t newLength = ContentLength();
  // The unchanged start, and the unchanged end (the audio, wherever it moved).
  std::uint64_t from = UnchangedPrefix();
  std::uint64_t oldEnd = originalLength_, newEnd = newLength;
  for (auto piece = pieces_.rbegin(); piece != pieces_.rend(); ++piece) {
    if (!piece->original || piece->offset + piece->length != oldEnd ||
        newEnd - piece->length < from || oldEnd - piece->length < from)
      break;
    oldEnd -= piece->length;
    newEnd -= piece->length;
  }
  from = std::min({from, oldEnd, newEnd});
  // A save that changes the length records from the file's start: taking
  // back blocks opened before the tag needs the whole old tag.
  if (newLength != originalLength_)
    from = 0;
  record->offset = from;
  record->originalSize = originalLength_;
  record->repairedSize = newLength;
  record->repairedLength = newEnd - from;
  const RangeReader original = FileReader(file_);
  const RangeReader repaired = [this](std::uint64_t offset, std::uint64_t count, std::string* out) {
    return ReadContent(offset, count, out);
  };
  if (!original(from, oldEnd - from, &record->originalBytes))
    return false;
  // Where both ends are the same bytes of the unchanged audio, they are
  // read and summed once.
  const std::uint64_t edge = std::min(kEdge, originalLength_);
  uLong endChecksum = 0;
  KnownParts known;
  known.replaced = &record->originalBytes;
  if (edge == std::min(kEdge, newLength) && originalLength_ - oldEnd >= edge) {
    std::string end;
    if (!original(originalLength_ - edge, edge, &end))
      return false;
    endChecksum =
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(end.data()), uInt(end.size()));
    known.endChecksum = &endChecksum;
  }
  if (!SampledChecksum(original, originalLength_, from, oldEnd - from, &record->originalChecksum,
                       known))
    return false;
  known.replaced = nullptr;
  return SampledChecksum(repaired, newLength, from, newEnd - from, &record->repairedChecksum,
                         known);
}

namespace {

// The original as it would read with `bytes` at `offset` and what follows
// them taken from `shift` bytes further on in `file`.
RangeReader RestoredReader(NativeFile* file, std::uint64_t offset, const std::string& bytes,
                           std::uint64_t shift) {
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
    return take(std::max(start, bytesEnd), end, shift);
  };
}

}  // namespace

bool RecoverRecordedSave(const PathString& path, const SaveRecord& record) {
  const PathString target = ResolveFileLinks(path);
  if (!RecoverInterruptedSave(target))
    return false;
  // A copy not yet put in the file's place: the file is still its original.
  if (!RemoveFileIfPresent(CopyPathFor(target)))
    return false;
  NativeFile* file = OpenExistingFile(target, false);
  if (!file)
    return true;  // gone, or no longer a file: nothing of ours to finish
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  const std::uint64_t length = record.originalBytes.size();
  bool settled = !FileSizeOf(file, &size);
  if (!settled && size == record.repairedSize && size >= record.offset + record.repairedLength &&
      SampledChecksum(FileReader(file), size, record.offset, record.repairedLength, &crc) &&
      crc == record.repairedChecksum) {
    settled = true;  // complete
  }
  if (!settled && size == record.originalSize && size >= record.offset + length &&
      SampledChecksum(FileReader(file), size, record.offset, length, &crc) &&
      crc == record.originalChecksum) {
    settled = true;  // untouched
  }
  // Written in place in part: the original bytes go back where they were.
  // Blocks opened before the tag, the new tag in part: the old tag goes back
  // after them, and they are taken out.
  const bool inPlace = size == record.originalSize && record.repairedSize == record.originalSize;
  const std::uint64_t inserted = record.repairedSize - record.originalSize;
  const bool insert = size == record.repairedSize && record.repairedSize > record.originalSize &&
                      record.offset == 0 && inserted % kTagBlock == 0;
  bool restorable = false;
  if (!settled && (inPlace || insert) && size >= record.offset + length + (insert ? inserted : 0)) {
    const RangeReader restored =
        RestoredReader(file, record.offset, record.originalBytes, insert ? inserted : 0);
    restorable = SampledChecksum(restored, record.originalSize, record.offset, length, &crc) &&
                 crc == record.originalChecksum;
  }
  CloseNativeFile(file);
  if (settled || !restorable)
    return true;  // complete, untouched, or changed by someone else since
  NativeFile* writer = OpenExistingFile(target, true);
  if (!writer)
    return false;
  bool restored = false;
  if (insert) {
    restored = WriteFileAt(writer, inserted, record.originalBytes.data(), length) &&
               CollapseFileRange(writer, 0, inserted) && FlushNativeFile(writer);
  } else {
    restored = WriteFileAt(writer, record.offset, record.originalBytes.data(), length) &&
               FlushNativeFile(writer);
  }
  CloseNativeFile(writer);
  return restored;
}

bool FileChecksum(const PathString& path, std::uint64_t offset, std::uint64_t length,
                  std::uint64_t* size, std::uint32_t* crc) {
  NativeFile* file = OpenExistingFile(ResolveFileLinks(path), false);
  if (!file)
    return false;
  const bool ok = FileSizeOf(file, size) && offset + length <= *size &&
                  SampledChecksum(FileReader(file), *size, offset, length, crc);
  CloseNativeFile(file);
  return ok;
}

bool EditStream::WritePieces(NativeFile* to, std::uint64_t from) const {
  std::uint64_t at = 0;
  for (const Piece& piece : pieces_) {
    const std::uint64_t end = at + piece.length;
    if (end > from) {
      const std::uint64_t skip = from > at ? from - at : 0;
      const std::uint64_t count = piece.length - skip;
      const bool written =
          piece.original
              ? CopyFileRange(file_, piece.offset + skip, to, at + skip - from, count)
              : WriteFileAt(to, at + skip - from, piece.bytes.data() + skip, std::size_t(count));
      if (!written)
        return false;
    }
    at = end;
  }
  return true;
}

bool EditStream::WriteContent(NativeFile* to, std::uint64_t start, std::uint64_t end,
                              std::uint64_t at) const {
  std::uint64_t pieceStart = 0;
  for (const Piece& piece : pieces_) {
    const std::uint64_t pieceEnd = pieceStart + piece.length;
    const std::uint64_t from = std::max(start, pieceStart), until = std::min(end, pieceEnd);
    if (from < until) {
      const std::uint64_t within = from - pieceStart;
      bool written = true;
      if (piece.original) {
        // Where the copy sits at the same place within a 4 KiB block as the
        // original (a tag grown by whole blocks), the part from the first
        // block boundary on is a whole-block copy, which file systems that
        // share blocks between files (btrfs, XFS) clone instead of copying.
        std::uint64_t source = piece.offset + within, target = at + from - start;
        std::uint64_t count = until - from;
        const std::uint64_t head = (kCloneBlock - source % kCloneBlock) % kCloneBlock;
        if (source % kCloneBlock == target % kCloneBlock && head != 0 && head < count) {
          written = CopyFileRange(file_, source, to, target, head);
          source += head;
          target += head;
          count -= head;
        }
        written = written && CopyFileRange(file_, source, to, target, count);
      } else {
        written = WriteFileAt(to, at + from - start, piece.bytes.data() + within,
                              std::size_t(until - from));
      }
      if (!written)
        return false;
    }
    pieceStart = pieceEnd;
  }
  return true;
}

std::uint64_t EditStream::NewBytes() const {
  std::uint64_t bytes = 0;
  for (const Piece& piece : pieces_) {
    if (!piece.original)
      bytes += piece.length;
  }
  return bytes;
}

void EditStream::CloseOriginal() {
  CloseNativeFile(file_);
  file_ = nullptr;
}

bool EditStream::CommitInPlace(std::uint64_t from, std::uint64_t newLength) {
  // What changes, and the original bytes it replaces, in memory: when the
  // length changes that is the rest of the file, which a rename cannot spare.
  const std::uint64_t sameLengthEnd = [&] {
    if (newLength != originalLength_)
      return originalLength_;
    std::uint64_t end = newLength;
    for (auto piece = pieces_.rbegin(); piece != pieces_.rend(); ++piece) {
      if (!piece->original || piece->offset != end - piece->length)
        break;
      end -= piece->length;
    }
    return std::max(end, from);
  }();
  const std::uint64_t newEnd = newLength == originalLength_ ? sameLengthEnd : newLength;
  std::string replacement;
  Journal journal;
  journal.originalLength = originalLength_;
  journal.offset = from;
  journal.bytes.resize(std::size_t(sameLengthEnd - from));
  if (!ReadContent(from, newEnd - from, &replacement) ||
      (!journal.bytes.empty() &&
       !ReadFileAt(file_, from, &journal.bytes[0], journal.bytes.size()))) {
    return false;
  }

  NativeFile* writer = OpenExistingFile(target_, true);
  if (!writer)
    return false;
  const PathString journalPath = JournalPathFor(target_);
  bool written = false;
  if (WriteJournal(target_, journal.originalLength, journal.offset, journal.bytes)) {
    written = WriteFileAt(writer, from, replacement.data(), replacement.size()) &&
              (newLength == originalLength_ || TruncateNativeFile(writer, newLength)) &&
              FlushNativeFile(writer);
    // A failed write is taken back at once; what cannot be taken back stays
    // in the journal for the next run.
    if (written || ApplyJournal(writer, journal))
      RemoveFileIfPresent(journalPath);
  }
  CloseNativeFile(writer);
  return written;
}

bool EditStream::CommitByReplace(std::uint64_t newLength) {
  const PathString copyPath = CopyPathFor(target_);
  RemoveFileIfPresent(copyPath);  // left by a run that was cut short
  NativeFile* copy = CreateNewFile(copyPath);
  if (!copy)
    return false;
  const bool written = WritePieces(copy, 0) && TruncateNativeFile(copy, newLength);
  const bool secured = written && CopyFileSecurity(file_, copy);
  const bool flushed = secured && FlushNativeFile(copy);
  CloseNativeFile(copy);
  if (flushed) {
    CloseNativeFile(file_);  // Windows replaces no file that is still open
    file_ = nullptr;
    if (ReplaceFileAtomically(target_, copyPath))
      return true;
  }
  RemoveFileIfPresent(copyPath);
  // A copy that could not take the original's owner or access lists must
  // not replace it; the file is rewritten in place instead.
  if (written && !secured)
    return CommitInPlace(0, newLength);
  return false;
}

bool EditStream::CommitEdits() {
  if (!file_)
    return false;
  if (!Changed())
    return true;
  const std::uint64_t newLength = ContentLength();
  const std::uint64_t from = UnchangedPrefix();

  // Saving needs a file that may be written; a read-only one is refused as
  // TagLib refuses it.
  NativeFile* writable = OpenExistingFile(target_, true);
  if (!writable)
    return false;
  CloseNativeFile(writable);

  const bool ok = newLength == originalLength_ || HasSeveralLinks(file_)
                      ? CommitInPlace(from, newLength)
                      : CommitByReplace(newLength);
  CloseNativeFile(file_);
  file_ = nullptr;
  return ok;
}
