#include "cli/undo.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <vector>

#include "cli/console.h"
#include "engine/journal.h"
#include "engine/save.h"
#include "engine/side-journal.h"

namespace {

std::string FormatTime(std::int64_t seconds, const char* format) {
  const std::time_t time = std::time_t(seconds);
  char text[64] = {};
  std::strftime(text, sizeof text, format, std::gmtime(&time));
  return text;
}

// As the run showed it: below the folder when it was given one folder.
PathString ShownPath(const JournalRun& run, const PathString& path) {
  const PathString& folder = run.paths.front();
  const bool below = run.paths.size() == 1 && path.size() > folder.size() + 1 &&
                     path.compare(0, folder.size(), folder) == 0 &&
                     path[folder.size()] == kPathSeparator;
  return below ? path.substr(folder.size() + 1) : path;
}

std::string JoinedPaths(const JournalRun& run) {
  std::string text;
  for (const PathString& path : run.paths)
    text += (text.empty() ? "" : ", ") + PathForDisplay(path);
  return text;
}

std::string Plural(std::size_t count, const char* one) {
  return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

}  // namespace

// --- Listing and undoing -----------------------------------------------------

int ListRuns(const PathString& stateFolder) {
  const std::vector<JournalRun> runs = ReadJournalRuns(stateFolder, JournalDepth::kCount);
  if (runs.empty()) {
    WriteOut("No runs recorded\n");
    return 0;
  }
  for (const JournalRun& run : runs) {
    WriteOut(run.id + "  " + FormatTime(run.started, "%Y-%m-%d %H:%M:%S UTC") + "  " +
             Plural(run.saveCount, "file") + "  " + JoinedPaths(run) +
             (run.undone ? "  (undone)" : "") + "\n");
  }
  return 0;
}

int UndoRun(const PathString& stateFolder, const std::string& id, const std::atomic<bool>* stop) {
  // Batches a run left unfinished are finished first.
  RecoverUnfinishedRuns(stateFolder);
  std::vector<JournalRun> runs = ReadJournalRuns(stateFolder, JournalDepth::kHeader);
  JournalRun* run = nullptr;
  for (auto it = runs.rbegin(); it != runs.rend() && !run; ++it) {
    if (id.empty() ? !it->undone : it->id == id)
      run = &*it;
  }
  if (run && !ReadJournalRun(run->file, JournalDepth::kFull, run))
    run = nullptr;
  if (!run) {
    WriteErr(id.empty() ? "songwright: no run to undo (see --list-runs)\n"
                        : "songwright: no run " + id + " (see --list-runs)\n");
    return 2;
  }
  std::size_t restored = 0, leftAlone = 0;
  // Side journals are looked for by listing each folder once.
  BeginSideFileIndex();
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
    // One open serves the checksums and the save that puts the file back.
    EditStream stream(saved->path, target);
    NativeFile* file = stream.OriginalFile();
    const bool repaired =
        ok && file && FileChecksum(file, record.offset, record.repairedLength, &size, &asRepaired) &&
        size == record.repairedSize && asRepaired == record.repairedChecksum;
    const bool original =
        ok && file && !repaired &&
        FileChecksum(file, record.offset, record.originalBytes.size(), &size, &asOriginal) &&
        size == record.originalSize && asOriginal == record.originalChecksum;
    ok = ok && file;
    std::string issue = "Couldn't open file";
    if (original) {
      // Already as it was (an undo cut short, or undone by hand).
    } else if (repaired) {
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
  EndSideFileIndex();
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
  MarkJournalRunUndone(*run);
  return 0;
}
