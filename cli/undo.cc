#include "cli/undo.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <vector>

#include "cli/console.h"
#include "engine/save.h"

namespace fs = std::filesystem;

namespace {

bool OpenableFile(const PathString& path) {
  NativeFile* file = OpenExistingFile(ResolveFileLinks(path), false);
  CloseNativeFile(file);
  return file != nullptr;
}

constexpr int kKeptRuns = 20;
constexpr std::int64_t kKeptSeconds = 30 * 24 * 3600;
const char kHeaderMagic[] = "SWR1";
const PathChar kJournalSuffix[] = PATH_TEXT(".journal");
const PathChar kUndoneSuffix[] = PATH_TEXT(".undone");

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
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : data)
    hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// Appends `payload` with its length and check, so a torn end is recognised.
void PutChecked(std::string* out, const std::string& payload) {
  PutNumber(out, payload.size(), 4);
  out->append(payload);
  PutNumber(out, Check(payload), 8);
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
  std::copy(bytes.begin(), bytes.begin() + path.size() * sizeof(PathChar),
            reinterpret_cast<char*>(&path[0]));
  return path;
}

struct SavedFile {
  PathString path;
  SaveRecord record;
};

struct Run {
  PathString file;  // the journal
  std::string id;
  bool undone = false;
  std::int64_t started = 0;
  std::vector<PathString> paths;  // the paths the run was given
  std::size_t saveCount = 0;
  std::vector<SavedFile> saves;  // read only when the run is undone
};

// How much of a journal to read: pruning needs the header, a listing the
// number of records, an undo everything.
enum class Depth { kHeader, kCount, kFull };

bool ReadAt(NativeFile* file, std::uint64_t offset, std::uint64_t count, std::string* out) {
  out->assign(std::size_t(count), '\0');
  return count == 0 || ReadFileAt(file, offset, &(*out)[0], out->size());
}

bool ReadRun(const fs::path& file, Depth depth, Run* run) {
  NativeFile* handle = OpenExistingFile(file.native(), false);
  if (!handle)
    return false;
  std::uint64_t size = 0;
  std::string data;
  const bool read =
      FileSizeOf(handle, &size) &&
      ReadAt(handle, 0, depth == Depth::kFull ? size : std::min<std::uint64_t>(size, 65536), &data);
  Reader reader{data};
  std::string header;
  if (!read || data.compare(0, 4, kHeaderMagic) != 0 || (reader.at = 4, !reader.Checked(&header))) {
    CloseNativeFile(handle);
    return false;
  }
  Reader fields{header};
  run->started = std::int64_t(fields.Number(8));
  run->paths.assign(1, PathFromBytes(fields.Bytes(fields.Number(8))));
  // Journals of runs given several paths hold the others after the first.
  const std::uint64_t morePaths = fields.at < header.size() ? fields.Number(8) : 0;
  for (std::uint64_t i = 0; i < morePaths && fields.ok; ++i)
    run->paths.push_back(PathFromBytes(fields.Bytes(fields.Number(8))));
  run->file = file.native();
  run->undone = file.extension().native() == kUndoneSuffix;
  run->id = PathForDisplay(file.stem().native());
  if (depth == Depth::kCount) {
    // Record by record, by their lengths alone.
    std::uint64_t at = reader.at;
    std::string length;
    while (at + 4 <= size && ReadAt(handle, at, 4, &length)) {
      const std::uint64_t next = at + 4 + Reader{length}.Number(4) + 8;
      if (next > size)
        break;
      ++run->saveCount;
      at = next;
    }
  }
  CloseNativeFile(handle);
  std::string payload;
  while (depth == Depth::kFull && reader.at < data.size() && reader.Checked(&payload)) {
    Reader saved{payload};
    SavedFile entry;
    entry.path = PathFromBytes(saved.Bytes(saved.Number(8)));
    entry.record.offset = saved.Number(8);
    entry.record.repairedLength = saved.Number(8);
    entry.record.originalSize = saved.Number(8);
    entry.record.repairedSize = saved.Number(8);
    entry.record.originalChecksum = std::uint32_t(saved.Number(4));
    entry.record.repairedChecksum = std::uint32_t(saved.Number(4));
    entry.record.originalBytes = saved.Bytes(saved.Number(8));
    if (!saved.ok)
      break;
    run->saves.push_back(std::move(entry));
  }
  if (depth == Depth::kFull)
    run->saveCount = run->saves.size();
  return true;
}

// Every journal in the state folder, oldest first.
std::vector<Run> ReadRuns(const PathString& stateFolder, Depth depth) {
  std::vector<Run> runs;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fs::path(stateFolder) / "runs", error)) {
    const PathString extension = entry.path().extension().native();
    Run run;
    if ((extension == kJournalSuffix || extension == kUndoneSuffix) &&
        ReadRun(entry.path(), depth, &run))
      runs.push_back(std::move(run));
  }
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
    return a.started != b.started ? a.started < b.started : a.id < b.id;
  });
  return runs;
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

// As the run showed it: below the folder when it was given one folder.
PathString ShownPath(const Run& run, const PathString& path) {
  const PathString& folder = run.paths.front();
  const bool below = run.paths.size() == 1 && path.size() > folder.size() + 1 &&
                     path.compare(0, folder.size(), folder) == 0 &&
                     path[folder.size()] == kPathSeparator;
  return below ? path.substr(folder.size() + 1) : path;
}

std::string JoinedPaths(const Run& run) {
  std::string text;
  for (const PathString& path : run.paths)
    text += (text.empty() ? "" : ", ") + PathForDisplay(path);
  return text;
}

// The path from the root: the current folder joined in front of a relative
// path, without "." steps (".." stays: after a link it does not lead where
// the text suggests).
PathString AbsolutePath(const PathString& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(fs::path(path), error);
  if (error)
    return path;
  fs::path clean;
  for (const fs::path& part : absolute) {
    if (part != "." && !part.empty())  // empty: a trailing separator
      clean /= part;
  }
  return clean.native();
}

std::string Plural(std::size_t count, const char* one) {
  return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

}  // namespace

// --- Recording ---------------------------------------------------------------

struct RunJournal {
  PathString stateFolder;
  std::vector<PathString> paths;  // absolute
  std::int64_t started = 0;
  NativeFile* file = nullptr;
  std::uint64_t length = 0;
  bool failed = false;
};

RunJournal* BeginRunJournal(const PathString& stateFolder, const std::vector<PathString>& paths) {
  if (stateFolder.empty())
    return nullptr;
  // Old runs go first, so that the new one is among the kept.
  std::vector<Run> runs = ReadRuns(stateFolder, Depth::kHeader);
  const std::int64_t now = Now();
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const bool tooMany = runs.size() - i >= std::size_t(kKeptRuns);
    if (tooMany || now - runs[i].started > kKeptSeconds)
      RemoveFileIfPresent(runs[i].file);
  }
  auto* journal = new RunJournal;
  journal->stateFolder = stateFolder;
  for (const PathString& path : paths)
    journal->paths.push_back(AbsolutePath(path));
  journal->started = now;
  return journal;
}

void EndRunJournal(RunJournal* journal) {
  if (!journal)
    return;
  CloseNativeFile(journal->file);
  delete journal;
}

namespace {

bool CreateJournalFile(RunJournal* journal) {
  std::error_code error;
  const fs::path folder = fs::path(journal->stateFolder) / "runs";
  fs::create_directories(folder, error);
  const std::string stamp = FormatTime(journal->started, "%Y%m%d-%H%M%S");
  for (int attempt = 1; attempt < 1000 && !journal->file; ++attempt) {
    const std::string id = attempt == 1 ? stamp : stamp + "-" + std::to_string(attempt);
    journal->file = CreateNewFile((folder / (id + ".journal")).native());
  }
  if (!journal->file)
    return false;
  // The journal's name must outlast a power loss as its records do: a save
  // whose record vanished with the name could not be undone.
  FlushFolder(folder.native());
  FlushFolder(fs::path(journal->stateFolder).native());
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

bool RecordSave(void* context, const PathString& path, const SaveRecord& record) {
  auto* journal = static_cast<RunJournal*>(context);
  if (journal->failed || (!journal->file && !CreateJournalFile(journal))) {
    journal->failed = true;
    return false;
  }
  std::string payload;
  PutBytes(&payload, PathBytes(AbsolutePath(path)));
  PutNumber(&payload, record.offset, 8);
  PutNumber(&payload, record.repairedLength, 8);
  PutNumber(&payload, record.originalSize, 8);
  PutNumber(&payload, record.repairedSize, 8);
  PutNumber(&payload, record.originalChecksum, 4);
  PutNumber(&payload, record.repairedChecksum, 4);
  PutBytes(&payload, record.originalBytes);
  std::string data;
  PutChecked(&data, payload);
  // On disk before the save it covers.
  if (!WriteFileAt(journal->file, journal->length, data.data(), data.size()) ||
      !FlushNativeFile(journal->file)) {
    journal->failed = true;
    return false;
  }
  journal->length += data.size();
  return true;
}

// --- Listing and undoing -----------------------------------------------------

int ListRuns(const PathString& stateFolder) {
  const std::vector<Run> runs = ReadRuns(stateFolder, Depth::kCount);
  if (runs.empty()) {
    WriteOut("No runs recorded\n");
    return 0;
  }
  for (const Run& run : runs) {
    WriteOut(run.id + "  " + FormatTime(run.started, "%Y-%m-%d %H:%M:%S UTC") + "  " +
             Plural(run.saveCount, "file") + "  " + JoinedPaths(run) +
             (run.undone ? "  (undone)" : "") + "\n");
  }
  return 0;
}

int UndoRun(const PathString& stateFolder, const std::string& id, const std::atomic<bool>* stop) {
  std::vector<Run> runs = ReadRuns(stateFolder, Depth::kHeader);
  Run* run = nullptr;
  for (auto it = runs.rbegin(); it != runs.rend() && !run; ++it) {
    if (id.empty() ? !it->undone : it->id == id)
      run = &*it;
  }
  if (run && !ReadRun(fs::path(run->file), Depth::kFull, run))
    run = nullptr;
  if (!run) {
    WriteErr(id.empty() ? "songwright: no run to undo (see --list-runs)\n"
                        : "songwright: no run " + id + " (see --list-runs)\n");
    return 2;
  }
  std::size_t restored = 0, leftAlone = 0;
  // Last save first: a file saved twice goes back one save at a time.
  for (auto saved = run->saves.rbegin(); saved != run->saves.rend(); ++saved) {
    if (stop && stop->load())
      break;
    const SaveRecord& record = saved->record;
    const std::string shown = PathForDisplay(ShownPath(*run, saved->path));
    std::uint64_t size = 0;
    std::uint32_t asRepaired = 0, asOriginal = 0;
    const PathString target = ResolveFileLinks(saved->path);
    bool ok = RecoverInterruptedSave(target);
    const bool repaired =
        ok && FileChecksum(saved->path, record.offset, record.repairedLength, &size, &asRepaired) &&
        size == record.repairedSize && asRepaired == record.repairedChecksum;
    const bool original =
        ok && !repaired &&
        FileChecksum(saved->path, record.offset, record.originalBytes.size(), &size, &asOriginal) &&
        size == record.originalSize && asOriginal == record.originalChecksum;
    ok = ok && OpenableFile(saved->path);
    std::string issue = "Couldn't open file";
    if (original) {
      // Already as it was (an undo cut short, or undone by hand).
    } else if (repaired) {
      EditStream stream(saved->path, target);
      stream.insert(
          TagLib::ByteVector(record.originalBytes.data(), unsigned(record.originalBytes.size())),
          static_cast<unsigned long>(record.offset),
          static_cast<unsigned long>(record.repairedLength));
      ok = stream.CommitEdits();
      issue = "Couldn't save changes";
    } else if (ok) {
      ok = false;
      issue = "changed since the run";
    }
    if (ok) {
      ++restored;
      WriteOut("restored\t" + shown + "\n");
    } else {
      ++leftAlone;
      WriteOut("left alone\t" + shown + "\t" + issue + "\n");
    }
  }
  const bool stopped = stop && stop->load();
  std::string summary = "Restored " + Plural(restored, "file");
  if (leftAlone)
    summary += ", left " + Plural(leftAlone, "file") + " as they are";
  WriteOut(summary + "\n");
  if (stopped)
    return 130;
  if (leftAlone)
    return 1;
  // Fully undone: it is not offered again as the last run.
  std::error_code error;
  fs::path undone = fs::path(run->file);
  undone.replace_extension(kUndoneSuffix);
  fs::rename(run->file, undone, error);
  return 0;
}
