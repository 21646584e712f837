#include "engine/journal.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>

#include "engine/disk.h"
#include "engine/hash.h"
#include "engine/path.h"
#include "engine/save.h"

namespace {

constexpr int kKeptRuns = 20;
constexpr std::int64_t kKeptSeconds = 30 * 24 * 3600;
// SWR1 journals hold save records only, each of them durable before its
// save; SWR2 journals tag every record with its kind.
const char kOldHeaderMagic[] = "SWR1";
const char kHeaderMagic[] = "SWR2";
constexpr char kSaveRecord = 'S';
constexpr char kCommitMark = 'C';
const PathChar kJournalSuffix[] = PATH_TEXT(".journal");
const PathChar kUndoneSuffix[] = PATH_TEXT(".undone");
const PathChar kScratchSuffix[] = PATH_TEXT(".scratch");

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

std::uint64_t Check(const std::string& data) {
  return Fnv1a64(data.data(), data.size());
}

// Appends `payload` with its length and check, so a torn end is recognised.
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

struct Reader {
  const std::string& data;
  std::size_t at = 0;
  bool ok = true;

  std::uint64_t Number(int bytes) {
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
  std::string Bytes(std::uint64_t count) {
    if (!ok || count > data.size() - at) {
      ok = false;
      return std::string();
    }
    std::string bytes = data.substr(at, std::size_t(count));
    at += std::size_t(count);
    return bytes;
  }
  // The next checked payload; false at the end or at a torn one.
  bool Checked(std::string* payload) {
    const std::uint64_t length = Number(4);
    *payload = Bytes(length);
    const std::uint64_t check = Number(8);
    return ok && check == Check(*payload);
  }
};

PathString PathFromBytes(const std::string& bytes) {
  PathString path(bytes.size() / sizeof(PathChar), PathChar());
  if (!path.empty()) {
    std::copy(bytes.begin(), bytes.begin() + path.size() * sizeof(PathChar),
              reinterpret_cast<char*>(&path[0]));
  }
  return path;
}

std::string EncodeSave(const JournalSave& save) {
  const SaveRecord& record = save.record;
  std::string payload(1, kSaveRecord);
  PutBytes(&payload, PathBytes(save.path));
  PutNumber(&payload, record.offset, 8);
  PutNumber(&payload, record.repairedLength, 8);
  PutNumber(&payload, record.originalSize, 8);
  PutNumber(&payload, record.repairedSize, 8);
  PutNumber(&payload, record.originalChecksum, 4);
  PutNumber(&payload, record.repairedChecksum, 4);
  PutBytes(&payload, record.originalBytes);
  std::string data;
  PutChecked(&data, payload);
  return data;
}

bool DecodeSave(Reader* saved, JournalSave* entry) {
  entry->path = PathFromBytes(saved->Bytes(saved->Number(8)));
  entry->record.offset = saved->Number(8);
  entry->record.repairedLength = saved->Number(8);
  entry->record.originalSize = saved->Number(8);
  entry->record.repairedSize = saved->Number(8);
  entry->record.originalChecksum = std::uint32_t(saved->Number(4));
  entry->record.repairedChecksum = std::uint32_t(saved->Number(4));
  entry->record.originalBytes = saved->Bytes(saved->Number(8));
  return saved->ok;
}

// Where the suffix of a journal's name starts (".journal", ".undone",
// ".scratch"): its last dot, unless that starts the name.
std::size_t SuffixStart(const PathString& file) {
  const std::size_t name = NameStartOf(file);
  const std::size_t dot = file.rfind(PathChar('.'));
  return dot == PathString::npos || dot <= name ? file.size() : dot;
}

bool HasSuffix(const PathString& file, const PathChar* suffix) {
  return file.compare(SuffixStart(file), PathString::npos, suffix) == 0;
}

bool ReadAt(NativeFile* file, std::uint64_t offset, std::uint64_t count, std::string* out) {
  out->assign(std::size_t(count), '\0');
  return count == 0 || ReadFileAt(file, offset, &(*out)[0], out->size());
}

// Every save of a journal in order, and how many of the first were covered
// by a commit mark (all of them in an SWR1 journal).
struct JournalContent {
  bool tagged = false;
  std::vector<JournalSave> saves;
  std::size_t committed = 0;
};

bool ReadJournalFile(const PathString& file, JournalDepth depth, JournalRun* run,
                     JournalContent* content) {
  NativeFile* handle = OpenExistingFile(file, false);
  if (!handle)
    return false;
  std::uint64_t size = 0;
  std::string data;
  const bool read =
      FileSizeOf(handle, &size) &&
      ReadAt(handle, 0, depth == JournalDepth::kFull ? size : std::min<std::uint64_t>(size, 65536),
             &data);
  Reader reader{data};
  std::string header;
  const bool tagged = data.compare(0, 4, kHeaderMagic) == 0;
  if (!read || (!tagged && data.compare(0, 4, kOldHeaderMagic) != 0) ||
      (reader.at = 4, !reader.Checked(&header))) {
    CloseNativeFile(handle);
    return false;
  }
  content->tagged = tagged;
  Reader fields{header};
  run->started = std::int64_t(fields.Number(8));
  run->paths.assign(1, PathFromBytes(fields.Bytes(fields.Number(8))));
  // Journals of runs given several paths hold the others after the first.
  const std::uint64_t morePaths = fields.at < header.size() ? fields.Number(8) : 0;
  for (std::uint64_t i = 0; i < morePaths && fields.ok; ++i)
    run->paths.push_back(PathFromBytes(fields.Bytes(fields.Number(8))));
  const std::size_t name = NameStartOf(file);
  run->file = file;
  run->undone = HasSuffix(file, kUndoneSuffix);
  run->id = PathForDisplay(file.substr(name, SuffixStart(file) - name));
  if (depth == JournalDepth::kCount) {
    // Record by record, by their lengths and kinds alone.
    std::uint64_t at = reader.at;
    std::string head;
    while (at + 5 <= size && ReadAt(handle, at, 5, &head)) {
      const std::uint64_t next = at + 4 + Reader{head}.Number(4) + 8;
      if (next > size)
        break;
      if (!tagged || head[4] == kSaveRecord)
        ++run->saveCount;
      at = next;
    }
  }
  CloseNativeFile(handle);
  std::string payload;
  while (depth == JournalDepth::kFull && reader.at < data.size() && reader.Checked(&payload)) {
    Reader saved{payload};
    if (tagged) {
      const char kind = char(saved.Number(1));
      if (kind == kCommitMark) {
        content->committed = content->saves.size();
        continue;
      }
      if (kind != kSaveRecord)
        break;
    }
    JournalSave entry;
    if (!DecodeSave(&saved, &entry))
      break;
    content->saves.push_back(std::move(entry));
  }
  if (!tagged)
    content->committed = content->saves.size();
  if (depth == JournalDepth::kFull)
    run->saveCount = content->saves.size();
  return true;
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

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string FormatTime(std::int64_t seconds, const char* format) {
  const std::time_t time = std::time_t(seconds);
  char text[64] = {};
  std::strftime(text, sizeof text, format, std::gmtime(&time));
  return text;
}

// True when the journal ends with a commit mark: nothing to recover. Read
// from its end alone, so that runs that ended well cost one small read.
bool EndsFinished(const PathString& file) {
  NativeFile* handle = OpenExistingFile(file, false);
  if (!handle)
    return true;
  const std::string mark = CommitMarkRecord();
  std::uint64_t size = 0;
  std::string tail;
  const bool finished = FileSizeOf(handle, &size) && size >= mark.size() &&
                        ReadAt(handle, size - mark.size(), mark.size(), &tail) && tail == mark;
  CloseNativeFile(handle);
  return finished;
}

bool AppendAndFlush(const PathString& file, const std::string& data) {
  NativeFile* handle = OpenExistingFile(file, true);
  if (!handle)
    return false;
  std::uint64_t size = 0;
  const bool ok = FileSizeOf(handle, &size) &&
                  WriteFileAt(handle, size, data.data(), data.size()) && FlushNativeFile(handle);
  CloseNativeFile(handle);
  return ok;
}

}  // namespace

PathString AbsolutePath(const PathString& path) {
  // The current folder is asked for only when it is needed.
  return AbsolutePathFrom(IsAbsolutePath(path) ? PathString() : CurrentFolder(), path);
}

bool ReadJournalRun(const PathString& file, JournalDepth depth, JournalRun* run) {
  JournalContent content;
  if (!ReadJournalFile(file, depth, run, &content))
    return false;
  run->saves = std::move(content.saves);
  return true;
}

std::vector<JournalRun> ReadJournalRuns(const PathString& stateFolder, JournalDepth depth) {
  std::vector<JournalRun> runs;
  for (const PathString& file : JournalFiles(stateFolder, {kJournalSuffix, kUndoneSuffix})) {
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

bool MarkJournalRunUndone(const JournalRun& run) {
  const PathString undone = run.file.substr(0, SuffixStart(run.file)) + kUndoneSuffix;
  return RenameOver(undone, run.file);
}

bool RecoverUnfinishedRuns(const PathString& stateFolder) {
  if (stateFolder.empty())
    return true;
  bool allRecovered = true;
  for (const PathString& file : JournalFiles(stateFolder, {kJournalSuffix, kScratchSuffix})) {
    const bool scratch = HasSuffix(file, kScratchSuffix);
    // A run that is still going holds its journal's lock: its batches are
    // its own to finish. The lock is held here until this one is done.
    NativeFile* lock = OpenExistingFile(file, false);
    if (!lock || !TryLockFile(lock)) {
      CloseNativeFile(lock);
      continue;
    }
    const auto unlock = [&lock] {
      CloseNativeFile(lock);
      lock = nullptr;
    };
    if (EndsFinished(file)) {
      unlock();
      if (scratch)
        RemoveFileIfPresent(file);
      continue;
    }
    JournalRun run;
    JournalContent content;
    if (!ReadJournalFile(file, JournalDepth::kFull, &run, &content)) {
      // No header: the journal was torn before any record, so before any
      // save it would cover.
      unlock();
      RemoveFileIfPresent(file);
      continue;
    }
    bool recovered = true;
    for (std::size_t i = content.saves.size(); i > content.committed; --i) {
      const JournalSave& save = content.saves[i - 1];
      if (!RecoverRecordedSave(save.path, save.record))
        recovered = false;
    }
    if (!recovered) {
      allRecovered = false;
    } else if (scratch) {
      unlock();
      RemoveFileIfPresent(file);
    } else if (content.tagged && content.committed < content.saves.size()) {
      allRecovered = AppendAndFlush(file, CommitMarkRecord()) && allRecovered;
    }
    unlock();
  }
  return allRecovered;
}

// --- Recording ---------------------------------------------------------------

struct RunJournal {
  PathString stateFolder;
  std::vector<PathString> paths;  // absolute
  bool keep = true;
  std::int64_t started = 0;
  PathString name;
  NativeFile* file = nullptr;
  std::uint64_t length = 0;
  bool failed = false;
  bool commitUnflushed = false;
};

RunJournal* BeginRunJournal(const PathString& stateFolder, const std::vector<PathString>& paths,
                            bool keep) {
  if (stateFolder.empty())
    return nullptr;
  RecoverUnfinishedRuns(stateFolder);
  const std::int64_t now = Now();
  if (keep) {
    // Old runs go first, so that the new one is among the kept.
    std::vector<JournalRun> runs = ReadJournalRuns(stateFolder, JournalDepth::kHeader);
    for (std::size_t i = 0; i < runs.size(); ++i) {
      const bool tooMany = runs.size() - i >= std::size_t(kKeptRuns);
      if (tooMany || now - runs[i].started > kKeptSeconds)
        RemoveFileIfPresent(runs[i].file);
    }
  }
  auto* journal = new RunJournal;
  journal->stateFolder = stateFolder;
  for (const PathString& path : paths)
    journal->paths.push_back(AbsolutePath(path));
  journal->keep = keep;
  journal->started = now;
  return journal;
}

void EndRunJournal(RunJournal* journal) {
  if (!journal)
    return;
  if (journal->file && journal->commitUnflushed && !journal->failed)
    FlushNativeFile(journal->file);
  CloseNativeFile(journal->file);
  // A scratch journal whose batches all finished has done its work.
  if (!journal->keep && journal->file && journal->commitUnflushed && !journal->failed)
    RemoveFileIfPresent(journal->name);
  delete journal;
}

namespace {

bool CreateJournalFile(RunJournal* journal) {
  const PathString folder = RunsFolder(journal->stateFolder);
  CreateFolders(folder);
  const std::string stamp = FormatTime(journal->started, "%Y%m%d-%H%M%S");
  const PathString suffix = journal->keep ? kJournalSuffix : kScratchSuffix;
  for (int attempt = 1; attempt < 1000 && !journal->file; ++attempt) {
    const std::string id = attempt == 1 ? stamp : stamp + "-" + std::to_string(attempt);
    journal->name = JoinPath(folder, PathString(id.begin(), id.end())) + suffix;
    journal->file = CreateNewFile(journal->name);
  }
  if (!journal->file)
    return false;
  // Held while the run lasts, so that another run's recovery leaves it be.
  TryLockFile(journal->file);
  // The journal's name must outlast a power loss as its records do: a save
  // whose record vanished with the name could not be undone or recovered.
  FlushFolder(folder);
  FlushFolder(journal->stateFolder);
  std::string header;
  PutNumber(&header, std::uint64_t(journal->started), 8);
  PutBytes(&header, PathBytes(journal->paths.empty() ? PathString() : journal->paths.front()));
  if (journal->paths.size() > 1) {
    PutNumber(&header, journal->paths.size() - 1, 8);
    for (std::size_t i = 1; i < journal->paths.size(); ++i)
      PutBytes(&header, PathBytes(journal->paths[i]));
  }
  std::string data(kHeaderMagic, 4);
  PutChecked(&data, header);
  journal->length = data.size();
  return WriteFileAt(journal->file, 0, data.data(), data.size());
}

}  // namespace

bool JournalBatch(RunJournal* journal, const std::vector<JournalSave>& saves) {
  if (journal->failed || (!journal->file && !CreateJournalFile(journal))) {
    journal->failed = true;
    return false;
  }
  std::string data;
  for (const JournalSave& save : saves) {
    JournalSave absolute{AbsolutePath(save.path), save.record};
    data += EncodeSave(absolute);
  }
  // On disk before the first save it covers.
  if (!WriteFileAt(journal->file, journal->length, data.data(), data.size()) ||
      !FlushNativeFile(journal->file)) {
    journal->failed = true;
    return false;
  }
  journal->length += data.size();
  journal->commitUnflushed = false;
  return true;
}

bool JournalCommit(RunJournal* journal) {
  if (journal->failed || !journal->file)
    return false;
  const std::string mark = CommitMarkRecord();
  if (!WriteFileAt(journal->file, journal->length, mark.data(), mark.size())) {
    journal->failed = true;
    return false;
  }
  journal->length += mark.size();
  journal->commitUnflushed = true;
  return true;
}
