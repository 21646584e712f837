// Encoding and decoding of the run journal's header and records, and the
// names of journal files.
#include "engine/commit/journal-format.h"

#include <algorithm>

#include "engine/platform/hash.h"
#include "engine/platform/path.h"

namespace {

std::uint64_t Check(const std::string& data) {
  return Fnv1a64(data.data(), data.size());
}

}  // namespace

// --- Encoding: little-endian numbers, native path bytes, FNV-1a checks -------

void PutNumber(std::string* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out->push_back(char((value >> (8 * i)) & 0xFF));
}

void PutBytes(std::string* out, const std::string& bytes) {
  PutNumber(out, bytes.size(), 8);
  out->append(bytes);
}

std::string PathBytes(const PathString& path) {
  return std::string(reinterpret_cast<const char*>(path.data()), path.size() * sizeof(PathChar));
}

void PutChecked(std::string* out, const std::string& payload) {
  PutNumber(out, payload.size(), 4);
  out->append(payload);
  PutNumber(out, Check(payload), 8);
}

std::string CommitMarkRecord() {
  std::string data;
  PutChecked(&data, std::string(1, kCommitMark));
  return data;
}

std::string UnsavedRecord(std::uint64_t index) {
  std::string payload(1, kUnsavedMark);
  PutNumber(&payload, index, 8);
  std::string data;
  PutChecked(&data, payload);
  return data;
}

std::string FinishedRecord(const std::string& finisher) {
  std::string payload(1, kFinishedRecord);
  PutBytes(&payload, finisher);
  std::string data;
  PutChecked(&data, payload);
  return data;
}

std::string EncodeJournalHeader(std::int64_t started, const std::vector<PathString>& paths) {
  std::string header;
  PutNumber(&header, std::uint64_t(started), 8);
  PutBytes(&header, PathBytes(paths.empty() ? PathString() : paths.front()));
  if (paths.size() > 1) {
    PutNumber(&header, paths.size() - 1, 8);
    for (std::size_t i = 1; i < paths.size(); ++i)
      PutBytes(&header, PathBytes(paths[i]));
  }
  std::string data(kHeaderMagic, 4);
  PutChecked(&data, header);
  return data;
}

void AppendSave(std::string* out, const PathString& path, const SaveRecord& record) {
  // Encoded in place, the original bytes copied once: its length, the
  // payload, then the check of the payload.
  const std::size_t start = out->size();
  const std::string pathBytes = PathBytes(path);
  out->reserve(start + 4 + 1 + 8 + pathBytes.size() + 40 + 8 + record.originalBytes.size() + 8 +
               (record.sizeFieldOriginal.empty() ? 0 : 24 + 2 * record.sizeFieldOriginal.size()));
  PutNumber(out, 0, 4);
  out->push_back(kSaveRecord);
  PutBytes(out, pathBytes);
  PutNumber(out, record.offset, 8);
  PutNumber(out, record.repairedLength, 8);
  PutNumber(out, record.originalSize, 8);
  PutNumber(out, record.repairedSize, 8);
  PutNumber(out, record.originalChecksum, 4);
  PutNumber(out, record.repairedChecksum, 4);
  PutBytes(out, record.originalBytes);
  // A size field follows only where the save has one: records without it
  // read as before.
  if (!record.sizeFieldOriginal.empty()) {
    PutNumber(out, record.sizeFieldAt, 8);
    PutBytes(out, record.sizeFieldOriginal);
    PutBytes(out, record.sizeFieldRepaired);
  }
  const std::size_t length = out->size() - start - 4;
  for (int i = 0; i < 4; ++i)
    (*out)[start + std::size_t(i)] = char((std::uint64_t(length) >> (8 * i)) & 0xFF);
  PutNumber(out, Fnv1a64(out->data() + start + 4, length), 8);
}

std::string EncodeSave(const JournalSave& save) {
  std::string data;
  AppendSave(&data, save.path, save.record);
  return data;
}

std::string EncodeRename(const JournalRename& rename) {
  std::string payload(1, kRenameRecord);
  PutBytes(&payload, PathBytes(rename.from));
  PutBytes(&payload, PathBytes(rename.to));
  std::string data;
  PutChecked(&data, payload);
  return data;
}

// --- Decoding ----------------------------------------------------------------

std::uint64_t Reader::Number(int bytes) {
  if (at + std::size_t(bytes) > data.size()) {
    ok = false;
    return 0;
  }
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i)
    value = (value << 8) | std::uint8_t(data[at + i]);
  at += std::size_t(bytes);
  return value;
}

std::string Reader::Bytes(std::uint64_t count) {
  if (!ok || count > data.size() - at) {
    ok = false;
    return std::string();
  }
  std::string bytes = data.substr(at, std::size_t(count));
  at += std::size_t(count);
  return bytes;
}

bool Reader::Checked(std::string* payload) {
  const std::uint64_t length = Number(4);
  *payload = Bytes(length);
  const std::uint64_t check = Number(8);
  return ok && check == Check(*payload);
}

PathString PathFromBytes(const std::string& bytes) {
  PathString path(bytes.size() / sizeof(PathChar), PathChar());
  if (!path.empty()) {
    std::copy(bytes.begin(), bytes.begin() + path.size() * sizeof(PathChar),
              reinterpret_cast<char*>(&path[0]));
  }
  return path;
}

bool DecodeSave(Reader* saved, JournalSave* entry, bool withBytes, std::size_t end) {
  entry->path = PathFromBytes(saved->Bytes(saved->Number(8)));
  entry->record.offset = saved->Number(8);
  entry->record.repairedLength = saved->Number(8);
  entry->record.originalSize = saved->Number(8);
  entry->record.repairedSize = saved->Number(8);
  entry->record.originalChecksum = std::uint32_t(saved->Number(4));
  entry->record.repairedChecksum = std::uint32_t(saved->Number(4));
  const std::uint64_t count = saved->Number(8);
  if (withBytes) {
    entry->record.originalBytes = saved->Bytes(count);
  } else if (!saved->ok || count > saved->data.size() - saved->at) {
    saved->ok = false;
  } else {
    saved->at += std::size_t(count);
  }
  if (saved->ok && saved->at < end) {
    entry->record.sizeFieldAt = saved->Number(8);
    entry->record.sizeFieldOriginal = saved->Bytes(saved->Number(8));
    entry->record.sizeFieldRepaired = saved->Bytes(saved->Number(8));
    if (entry->record.sizeFieldOriginal.size() != entry->record.sizeFieldRepaired.size())
      saved->ok = false;
  }
  return saved->ok;
}

bool DecodeRename(Reader* record, JournalRename* entry) {
  entry->from = PathFromBytes(record->Bytes(record->Number(8)));
  entry->to = PathFromBytes(record->Bytes(record->Number(8)));
  return record->ok && !entry->from.empty() && !entry->to.empty();
}

// --- Names -------------------------------------------------------------------

std::size_t SuffixStart(const PathString& file) {
  const std::size_t name = NameStartOf(file);
  const std::size_t dot = file.rfind(PathChar('.'));
  return dot == PathString::npos || dot <= name ? file.size() : dot;
}

bool HasSuffix(const PathString& file, const PathChar* suffix) {
  return file.compare(SuffixStart(file), PathString::npos, suffix) == 0;
}
