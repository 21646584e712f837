// Reading kept journals back: one journal's header and records, and the
// listing of every run in the state folder.
#include <algorithm>
#include <cstdlib>

#include "engine/platform/disk.h"
#include "engine/platform/hash.h"
#include "engine/commit/journal-format.h"
#include "engine/commit/journal-read.h"
#include "engine/platform/path.h"

namespace {

// The start time and paths of a run from its journal's header.
void DecodeHeader(const std::string& header, JournalRun* run) {
  Reader fields{header};
  run->started = std::int64_t(fields.Number(8));
  run->paths.assign(1, PathFromBytes(fields.Bytes(fields.Number(8))));
  // Journals of runs given several paths hold the others after the first.
  const std::uint64_t morePaths = fields.at < header.size() ? fields.Number(8) : 0;
  for (std::uint64_t i = 0; i < morePaths && fields.ok; ++i)
    run->paths.push_back(PathFromBytes(fields.Bytes(fields.Number(8))));
}

// The file, id and undone state of a run, from its journal's name.
void NameRun(const PathString& file, JournalRun* run) {
  const std::size_t name = NameStartOf(file);
  run->file = file;
  run->partlyUndone = HasSuffix(file, kPartlyUndoneSuffix);
  run->undone = run->partlyUndone || HasSuffix(file, kUndoneSuffix);
  run->id = PathForDisplay(file.substr(name, SuffixStart(file) - name));
}

// The id a finished-by record at `at` (its payload `length` bytes) names.
std::string FinisherAt(NativeFile* handle, std::uint64_t at, std::uint64_t length) {
  std::string payload;
  if (!ReadAt(handle, at + 4, length, &payload))
    return std::string();
  Reader fields{payload, 1};
  const std::string id = fields.Bytes(fields.Number(8));
  return fields.ok ? id : std::string();
}

// The save records from `at` to the end of the file, counted record by
// record by their lengths and kinds alone: all of them, and those of
// finished batches that reached their files.
void CountSaveRecords(NativeFile* handle, std::uint64_t at, std::uint64_t size, bool tagged,
                      JournalRun* run) {
  std::size_t saves = 0, committed = 0, unsaved = 0, renames = 0, afterMark = 0;
  std::string head;
  while (at + 5 <= size && ReadAt(handle, at, 5, &head)) {
    const std::uint64_t length = Reader{head}.Number(4);
    const std::uint64_t next = at + 4 + length + 8;
    if (next > size)
      break;
    if (!tagged || head[4] == kSaveRecord) {
      ++saves;
      ++afterMark;
    } else if (head[4] == kCommitMark) {
      committed = saves;
      afterMark = 0;
    } else if (head[4] == kUnsavedMark) {
      ++unsaved;
    } else if (head[4] == kRenameRecord) {
      ++renames;
      ++afterMark;
    } else if (head[4] == kFinishedRecord) {
      run->finished = true;
      run->finishedBy = FinisherAt(handle, at, length);
    }
    at = next;
  }
  run->saveCount = saves;
  run->renameCount = renames;
  if (!tagged)
    committed = saves;
  run->interrupted = tagged && afterMark > 0;
  run->changedCount = committed > unsaved ? committed - unsaved : 0;
}

// A journal's bytes read a stretch at a time: small records come many to
// a read, a large one (a tag holding a picture) alone.
struct RecordWindow {
  NativeFile* handle = nullptr;
  std::uint64_t size = 0;
  std::string bytes;
  std::uint64_t start = 0;
  std::uint64_t stretch = 1024 * 1024;  // read at least this much at once

  // Where `count` bytes at `at` begin in `bytes`, read when they are not
  // there; false past the end of the file or when the read fails.
  bool Hold(std::uint64_t at, std::uint64_t count, std::size_t* offset) {
    if (at > size || count > size - at)
      return false;
    if (at < start || at + count > start + bytes.size()) {
      if (!ReadAt(handle, at, std::min(size - at, std::max(count, stretch)), &bytes)) {
        bytes.clear();
        return false;
      }
      start = at;
    }
    *offset = std::size_t(at - start);
    return true;
  }
};

// The checked record at `at`: its payload's place in the window, and where
// the next record starts. False at the end or at a torn record.
bool NextRecord(RecordWindow* window, std::uint64_t at, std::size_t* payload, std::size_t* length,
                std::uint64_t* next) {
  std::size_t offset = 0;
  if (!window->Hold(at, 4, &offset))
    return false;
  Reader field{window->bytes, offset};
  *length = std::size_t(field.Number(4));
  if (!window->Hold(at, 4 + std::uint64_t(*length) + 8, &offset))
    return false;
  *payload = offset + 4;
  Reader check{window->bytes, *payload + *length};
  *next = at + 4 + *length + 8;
  return check.Number(8) == Fnv1a64(window->bytes.data() + *payload, *length);
}

// Decodes one checked payload: a save into `content` (with its original
// bytes when `withBytes`), or a mark. False at an unknown or broken one.
bool DecodeRecord(const std::string& bytes, std::size_t payload, std::size_t length, bool tagged,
                  bool withBytes, std::uint64_t recordAt, JournalContent* content) {
  Reader saved{bytes, payload};
  if (tagged) {
    const char kind = char(saved.Number(1));
    if (kind == kCommitMark) {
      content->committed = content->saves.size();
      content->renamesCommitted = content->renames.size();
      return true;
    }
    if (kind == kRenameRecord) {
      JournalRename rename;
      if (!DecodeRename(&saved, &rename) || saved.at > payload + length)
        return false;
      content->renames.push_back(std::move(rename));
      return true;
    }
    if (kind == kFinishedRecord) {
      content->finished = true;
      content->finishedBy = saved.Bytes(saved.Number(8));
      return saved.ok;
    }
    if (kind == kUnsavedMark) {
      const std::uint64_t index = saved.Number(8);
      if (saved.ok && index < content->saves.size())
        content->saves[std::size_t(index)].saved = false;
      return true;
    }
    if (kind != kSaveRecord)
      return false;
  }
  JournalSave entry;
  entry.recordAt = recordAt;
  if (!DecodeSave(&saved, &entry, withBytes, payload + length) || saved.at > payload + length)
    return false;
  content->saves.push_back(std::move(entry));
  return true;
}

// Every record from `at` on, up to the end or the first torn or unknown
// one: saves in order, and where the last commit mark stood.
void DecodeRecords(NativeFile* handle, std::uint64_t at, std::uint64_t size, bool tagged,
                   bool withBytes, JournalContent* content) {
  RecordWindow window;
  window.handle = handle;
  window.size = size;
  std::size_t payload = 0, length = 0;
  std::uint64_t next = 0;
  while (NextRecord(&window, at, &payload, &length, &next) &&
         DecodeRecord(window.bytes, payload, length, tagged, withBytes, at, content))
    at = next;
  content->end = at;
}

// The counter of an id within its second: "20261208-141500-10" is the
// tenth run of that second, the id without a counter the first.
unsigned long RunCounter(const std::string& id) {
  const std::size_t first = id.find('-');
  const std::size_t second = first == std::string::npos ? first : id.find('-', first + 1);
  if (second == std::string::npos)
    return 1;
  return std::strtoul(id.c_str() + second + 1, nullptr, 10);
}

}  // namespace

bool ReadAt(NativeFile* file, std::uint64_t offset, std::uint64_t count, std::string* out) {
  out->assign(std::size_t(count), '\0');
  return count == 0 || ReadFileAt(file, offset, &(*out)[0], out->size());
}

bool ReadJournalFile(const PathString& file, JournalDepth depth, JournalRun* run,
                     JournalContent* content) {
  NativeFile* handle = OpenExistingFile(file, false);
  if (!handle)
    return false;
  std::uint64_t size = 0;
  std::string data;
  bool read =
      FileSizeOf(handle, &size) && ReadAt(handle, 0, std::min<std::uint64_t>(size, 65536), &data);
  // A header longer than the first read (a run given many paths) is read
  // whole.
  if (read && data.size() >= 8) {
    const std::uint64_t headerEnd = 4 + 4 + Reader{data, 4}.Number(4) + 8;
    if (headerEnd > data.size() && headerEnd <= size)
      read = ReadAt(handle, 0, headerEnd, &data);
  }
  Reader reader{data};
  std::string header;
  const bool tagged = data.compare(0, 4, kHeaderMagic) == 0;
  if (!read || (!tagged && data.compare(0, 4, kOldHeaderMagic) != 0) ||
      (reader.at = 4, !reader.Checked(&header))) {
    CloseNativeFile(handle);
    return false;
  }
  content->tagged = tagged;
  DecodeHeader(header, run);
  NameRun(file, run);
  if (depth == JournalDepth::kCount)
    CountSaveRecords(handle, reader.at, size, tagged, run);
  const bool records = depth == JournalDepth::kIndex || depth == JournalDepth::kFull;
  if (records)
    DecodeRecords(handle, reader.at, size, tagged, depth == JournalDepth::kFull, content);
  CloseNativeFile(handle);
  if (!tagged)
    content->committed = content->saves.size();
  if (records) {
    run->saveCount = content->saves.size();
    run->renameCount = content->renames.size();
    run->changedCount = std::size_t(std::count_if(
        content->saves.begin(), content->saves.begin() + std::ptrdiff_t(content->committed),
        [](const JournalSave& save) { return save.saved; }));
    run->interrupted = tagged && (content->committed < content->saves.size() ||
                                  content->renamesCommitted < content->renames.size());
    run->finished = content->finished;
    run->finishedBy = content->finishedBy;
  }
  return true;
}

bool ReadJournalSave(const PathString& file, std::uint64_t recordAt, JournalSave* save) {
  NativeFile* handle = OpenExistingFile(file, false);
  if (!handle)
    return false;
  RecordWindow window;
  window.handle = handle;
  window.stretch = 0;  // the one record alone
  std::string magic;
  std::size_t payload = 0, length = 0;
  std::uint64_t next = 0;
  JournalContent content;
  const bool read = FileSizeOf(handle, &window.size) && ReadAt(handle, 0, 4, &magic) &&
                    NextRecord(&window, recordAt, &payload, &length, &next) &&
                    DecodeRecord(window.bytes, payload, length, magic == kHeaderMagic,
                                 /*withBytes=*/true, recordAt, &content) &&
                    content.saves.size() == 1;
  CloseNativeFile(handle);
  if (!read)
    return false;
  const bool saved = save->saved;
  *save = std::move(content.saves.front());
  save->saved = saved;
  return true;
}

PathString RunsFolder(const PathString& stateFolder) {
  return JoinPath(stateFolder, PATH_TEXT("runs"));
}

std::vector<PathString> JournalFiles(const PathString& stateFolder,
                                     std::initializer_list<const PathChar*> suffixes) {
  std::vector<PathString> files;
  const PathString folder = RunsFolder(stateFolder);
  FolderIdentity identity;
  DirectoryListing* listing = OpenDirectoryListing(folder, &identity);
  if (!listing)
    return files;
  DirectoryEntry entry;
  while (NextDirectoryEntry(listing, &entry)) {
    const PathString file = JoinPath(folder, entry.name);
    for (const PathChar* suffix : suffixes) {
      if (HasSuffix(file, suffix))
        files.push_back(file);
    }
  }
  CloseDirectoryListing(listing);
  return files;
}

bool ReadJournalRun(const PathString& file, JournalDepth depth, JournalRun* run) {
  JournalContent content;
  if (!ReadJournalFile(file, depth, run, &content))
    return false;
  run->saves = std::move(content.saves);
  run->renames = std::move(content.renames);
  return true;
}

std::vector<JournalRun> ReadJournalRuns(const PathString& stateFolder, JournalDepth depth) {
  std::vector<JournalRun> runs;
  for (const PathString& file :
       JournalFiles(stateFolder, {kJournalSuffix, kUndoneSuffix, kPartlyUndoneSuffix})) {
    JournalRun run;
    if (ReadJournalRun(file, depth, &run))
      runs.push_back(std::move(run));
  }
  std::sort(runs.begin(), runs.end(), [](const JournalRun& a, const JournalRun& b) {
    if (a.started != b.started)
      return a.started < b.started;
    const unsigned long counterA = RunCounter(a.id), counterB = RunCounter(b.id);
    return counterA != counterB ? counterA < counterB : a.id < b.id;
  });
  return runs;
}

bool MarkJournalRunUndone(const JournalRun& run, bool partly) {
  const PathString undone =
      run.file.substr(0, SuffixStart(run.file)) + (partly ? kPartlyUndoneSuffix : kUndoneSuffix);
  return undone == run.file || RenameOver(undone, run.file);
}
