// Reading kept journals back: one journal's header and records, and the
// listing of every run in the state folder.
#include <algorithm>
#include <cstdlib>

#include "engine/disk.h"
#include "engine/journal-format.h"
#include "engine/path.h"

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

// The save records from `at` to the end of the file, counted record by
// record by their lengths and kinds alone: all of them, and those of
// finished batches that reached their files.
void CountSaveRecords(NativeFile* handle, std::uint64_t at, std::uint64_t size, bool tagged,
                      JournalRun* run) {
  std::size_t saves = 0, committed = 0, unsaved = 0, renames = 0;
  std::string head;
  while (at + 5 <= size && ReadAt(handle, at, 5, &head)) {
    const std::uint64_t next = at + 4 + Reader{head}.Number(4) + 8;
    if (next > size)
      break;
    if (!tagged || head[4] == kSaveRecord)
      ++saves;
    else if (head[4] == kCommitMark)
      committed = saves;
    else if (head[4] == kUnsavedMark)
      ++unsaved;
    else if (head[4] == kRenameRecord)
      ++renames;
    at = next;
  }
  run->saveCount = saves;
  run->renameCount = renames;
  if (!tagged)
    committed = saves;
  run->changedCount = committed > unsaved ? committed - unsaved : 0;
}

// Every record after the header, up to the end or the first torn or
// unknown one: saves in order, and where the last commit mark stood.
void DecodeRecords(Reader* reader, bool tagged, JournalContent* content) {
  std::string payload;
  while (reader->at < reader->data.size() && reader->Checked(&payload)) {
    Reader saved{payload};
    if (tagged) {
      const char kind = char(saved.Number(1));
      if (kind == kCommitMark) {
        content->committed = content->saves.size();
        content->renamesCommitted = content->renames.size();
        continue;
      }
      if (kind == kRenameRecord) {
        JournalRename rename;
        if (!DecodeRename(&saved, &rename))
          break;
        content->renames.push_back(std::move(rename));
        continue;
      }
      if (kind == kUnsavedMark) {
        const std::uint64_t index = saved.Number(8);
        if (saved.ok && index < content->saves.size())
          content->saves[std::size_t(index)].saved = false;
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
  DecodeHeader(header, run);
  NameRun(file, run);
  if (depth == JournalDepth::kCount)
    CountSaveRecords(handle, reader.at, size, tagged, run);
  CloseNativeFile(handle);
  if (depth == JournalDepth::kFull)
    DecodeRecords(&reader, tagged, content);
  if (!tagged)
    content->committed = content->saves.size();
  if (depth == JournalDepth::kFull) {
    run->saveCount = content->saves.size();
    run->renameCount = content->renames.size();
    run->changedCount = std::size_t(std::count_if(
        content->saves.begin(), content->saves.begin() + std::ptrdiff_t(content->committed),
        [](const JournalSave& save) { return save.saved; }));
  }
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
