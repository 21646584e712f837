#include "engine/commit/side-journal.h"

#include <map>
#include <set>

#include "engine/platform/hash.h"
#include "engine/platform/path.h"
#include "engine/commit/edit.h"

namespace {

// Enough to tell a whole journal from a torn one.
std::uint64_t Checksum(const char* data, std::size_t count) {
  return Fnv1a64(data, count);
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

// Journal: magic, device, index, original length, offset, byte count, the
// original bytes from that offset, and a checksum of all that precedes it.
const char kJournalMagic[] = "SWJ2";
constexpr std::size_t kJournalHeader = 4 + 8 + 8 + 8 + 8 + 8;

std::string EncodeJournal(const SideJournal& journal) {
  std::string data(kJournalMagic, 4);
  PutNumber(&data, journal.device);
  PutNumber(&data, journal.index);
  PutNumber(&data, journal.originalLength);
  PutNumber(&data, journal.offset);
  PutNumber(&data, journal.bytes.size());
  data += journal.bytes;
  PutNumber(&data, Checksum(data.data(), data.size()));
  return data;
}

bool DecodeJournal(const std::string& data, SideJournal* journal) {
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

// Either separator on every platform: side names must not change with how
// a path was written, or a later run would miss an earlier run's side file.
std::size_t NameStart(const PathString& path) {
  const std::size_t separator = path.find_last_of(PATH_TEXT("/\\"));
  return separator == PathString::npos ? 0 : separator + 1;
}

const PathChar kSidePrefix[] = PATH_TEXT(".songwright-");

// A hidden name beside `path` made from a hash of its name, so that it stays
// short whatever the name and never ends in ".mp3".
PathString SidePath(const PathString& path, const char* kind) {
  const std::size_t start = NameStart(path);
  // The name's code units as stored, low byte first (both platforms are
  // little-endian), so that a name keeps its side names from run to run.
  const std::uint64_t hash = Fnv1a64(path.data() + start, (path.size() - start) * sizeof(PathChar));
  static const char kHex[] = "0123456789abcdef";
  PathString side = path.substr(0, start) + kSidePrefix;
  for (int shift = 60; shift >= 0; shift -= 4)
    side.push_back(PathChar(kHex[(hash >> shift) & 15]));
  side.push_back(PathChar('.'));
  for (const char* k = kind; *k; ++k)
    side.push_back(PathChar(*k));
  return side;
}

// The side files of each folder listed so far in the runs going on.
struct SideFileIndex {
  Gate* gate = CreateGate();
  int scopes = 0;
  std::map<PathString, std::set<PathString>> folders;
};

SideFileIndex& Index() {
  static SideFileIndex index;
  return index;
}

// Lists `folder` into the index; false when it cannot be listed. Called
// with the gate held.
bool ListSideFiles(const PathString& folder, std::set<PathString>* names) {
  // The listing adds its own separator; a root ("/", "C:\\") keeps its own.
  PathString listed = folder;
  if (listed.size() > 1 && (listed.back() == '/' || listed.back() == '\\') &&
      listed[listed.size() - 2] != ':' && listed[listed.size() - 2] != listed.back())
    listed.pop_back();
  FolderIdentity identity;
  DirectoryListing* listing = OpenDirectoryListing(listed, &identity);
  if (!listing)
    return false;
  const PathString prefix(kSidePrefix);
  DirectoryEntry entry;
  while (NextDirectoryEntry(listing, &entry)) {
    if (entry.name.compare(0, prefix.size(), prefix) == 0)
      names->insert(entry.name);
  }
  CloseDirectoryListing(listing);
  return true;
}

}  // namespace

PathString FolderToFlush(const PathString& path) {
  // The platform's own separators: on POSIX a backslash is part of a name,
  // and the side files of such a song lie in the same folder as the song.
  return FolderOf(path);
}

void BeginSideFileIndex() {
  SideFileIndex& index = Index();
  LockGate(index.gate);
  ++index.scopes;
  UnlockGate(index.gate);
}

void EndSideFileIndex() {
  SideFileIndex& index = Index();
  LockGate(index.gate);
  if (--index.scopes == 0)
    index.folders.clear();
  UnlockGate(index.gate);
}

bool SideFileMayExist(const PathString& sidePath) {
  SideFileIndex& index = Index();
  LockGate(index.gate);
  bool may = true;
  if (index.scopes > 0) {
    const PathString folder = FolderToFlush(sidePath);
    auto found = index.folders.find(folder);
    std::set<PathString> names;
    if (found == index.folders.end() && ListSideFiles(folder, &names))
      found = index.folders.emplace(folder, std::move(names)).first;
    if (found != index.folders.end())
      may = found->second.count(sidePath.substr(NameStart(sidePath))) > 0;
  }
  UnlockGate(index.gate);
  return may;
}

void NoteSideFile(const PathString& sidePath) {
  SideFileIndex& index = Index();
  LockGate(index.gate);
  auto found = index.folders.find(FolderToFlush(sidePath));
  if (found != index.folders.end())
    found->second.insert(sidePath.substr(NameStart(sidePath)));
  UnlockGate(index.gate);
}

NativeFile* CreateSideFile(const PathString& sidePath) {
  if (SideFileMayExist(sidePath))
    RemoveFileIfPresent(sidePath);  // left by a run that was cut short
  NativeFile* file = CreateNewFile(sidePath);
  if (!file && RemoveFileIfPresent(sidePath))  // one the index could not know of
    file = CreateNewFile(sidePath);
  if (file)
    NoteSideFile(sidePath);
  return file;
}

bool ApplySideJournal(NativeFile* file, const SideJournal& journal) {
  return WriteFileAt(file, journal.offset, journal.bytes.data(), journal.bytes.size()) &&
         TruncateNativeFile(file, journal.originalLength) && FlushNativeFile(file);
}

PathString JournalPathFor(const PathString& path) {
  return SidePath(path, "journal");
}

PathString CopyPathFor(const PathString& path) {
  return SidePath(path, "tmp");
}

bool WriteJournal(const PathString& target, std::uint64_t originalLength, std::uint64_t offset,
                  const std::string& originalBytes) {
  SideJournal journal{0, 0, originalLength, offset, originalBytes};
  NativeFile* file = OpenExistingFile(target, false);
  const bool identified = file && IdentifyFile(file, &journal.device, &journal.index);
  CloseNativeFile(file);
  return identified && WriteSideJournal(target, journal);
}

bool WriteSideJournal(const PathString& target, const SideJournal& journal) {
  const PathString journalPath = JournalPathFor(target);
  NativeFile* journalFile = CreateSideFile(journalPath);
  if (!journalFile) {
    NoteFailedStep(L"the journal beside the file could not be made");
    return false;
  }
  const std::string data = EncodeJournal(journal);
  const bool journaled =
      WriteFileAt(journalFile, 0, data.data(), data.size()) && FlushNativeFile(journalFile);
  CloseNativeFile(journalFile);
  if (!journaled) {
    RemoveFileIfPresent(journalPath);
    return false;
  }
  FlushFolder(FolderToFlush(target));  // the journal must outlast a crash that follows
  return true;
}

bool RecoverInterruptedSave(const PathString& target) {
  const PathString journalPath = JournalPathFor(target);
  if (!SideFileMayExist(journalPath))
    return true;  // the usual case: nothing was cut short
  NativeFile* journalFile = OpenExistingFile(journalPath, false);
  if (!journalFile)
    return true;
  std::string data;
  const bool read = ReadWholeFile(journalFile, &data);
  CloseNativeFile(journalFile);
  SideJournal journal;
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
  const bool restored = ApplySideJournal(file, journal);
  CloseNativeFile(file);
  return restored && RemoveFileIfPresent(journalPath);
}
