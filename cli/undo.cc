#include "cli/undo.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <vector>

#include "cli/console.h"
#include "cli/json.h"
#include "cli/show.h"
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
    text += (text.empty() ? "" : ", ") + ShowPath(path);
  return text;
}

// {"type":"run",...}: the paths as a list, and their bytes beside them when
// one is not valid Unicode.
std::string JsonRun(const JournalRun& run) {
  std::string paths, hex;
  bool lossy = false;
  for (const PathString& path : run.paths) {
    paths += (paths.empty() ? "" : ",") + JsonString(PathForDisplay(path));
    hex += std::string(hex.empty() ? "" : ",") + "\"" + PathHex(path) + "\"";
    lossy = lossy || !IsValidUnicode(path);
  }
  return "{\"type\":\"run\",\"id\":" + JsonString(run.id) +
         ",\"started\":" + JsonString(FormatTime(run.started, "%Y-%m-%dT%H:%M:%SZ")) +
         ",\"files\":" + std::to_string(run.saveCount) + ",\"paths\":[" + paths + "]" +
         (lossy ? ",\"paths_bytes\":[" + hex + "]" : std::string()) +
         ",\"undone\":" + (run.undone ? "true" : "false") + "}\n";
}

// One file of an undo: restored, or left alone for `reason`.
void ReportRestore(bool json, const PathString& shown, bool ok, const std::string& reason) {
  if (json) {
    WriteOut("{\"type\":\"file\"," + JsonPath("file", shown) + ",\"outcome\":" +
             (ok ? "\"restored\"" : "\"left alone\",\"issue\":" + JsonString(reason)) + "}\n");
  } else if (ok) {
    WriteOut("restored\t" + ShowPath(shown) + "\n");
  } else {
    WriteOut("left alone\t" + ShowPath(shown) + "\t" + reason + "\n");
  }
}

std::string Plural(std::size_t count, const char* one) {
  return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

}  // namespace

// --- Listing and undoing -----------------------------------------------------

int ListRuns(const PathString& stateFolder, bool json) {
  const std::vector<JournalRun> runs = ReadJournalRuns(stateFolder, JournalDepth::kCount);
  if (json) {
    for (const JournalRun& run : runs)
      WriteOut(JsonRun(run));
    return 0;
  }
  if (runs.empty()) {
    WriteOut("No runs recorded\n");
    return 0;
  }
  for (const JournalRun& run : runs) {
    WriteOut(ShowText(run.id) + "  " + FormatTime(run.started, "%Y-%m-%d %H:%M:%S UTC") + "  " +
             Plural(run.saveCount, "file") + "  " + JoinedPaths(run) +
             (run.undone ? "  (undone)" : "") + "\n");
  }
  return 0;
}

int UndoRun(const PathString& stateFolder, const std::string& id, const std::atomic<bool>* stop,
            bool json) {
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
    WriteMessage(json, "error",
                 id.empty() ? "no run to undo (see --list-runs)"
                            : "no run " + (json ? id : ShowText(id)) + " (see --list-runs)");
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
    const PathString shown = ShownPath(*run, saved->path);
    std::uint64_t size = 0;
    std::uint32_t asRepaired = 0, asOriginal = 0;
    const PathString target = ResolveFileLinks(saved->path);
    bool ok = RecoverInterruptedSave(target);
    // One open serves the checksums and the save that puts the file back.
    EditStream stream(saved->path, target);
    NativeFile* file = stream.OriginalFile();
    const bool repaired =
        ok && file &&
        FileChecksum(file, record.offset, record.repairedLength, &size, &asRepaired) &&
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
    ++(ok ? restored : leftAlone);
    ReportRestore(json, shown, ok, issue);
  }
  EndSideFileIndex();
  const bool stopped = stop && stop->load();
  std::string summary = "Restored " + Plural(restored, "file");
  if (leftAlone)
    summary += ", left " + Plural(leftAlone, "file") + " as they are";
  if (json) {
    WriteOut("{\"type\":\"summary\",\"summary\":" + JsonString(summary) +
             ",\"run\":" + JsonString(run->id) + ",\"restored\":" + std::to_string(restored) +
             ",\"left_alone\":" + std::to_string(leftAlone) +
             ",\"stopped\":" + (stopped ? "true" : "false") + "}\n");
  } else {
    WriteOut(summary + "\n");
  }
  if (stopped)
    return 130;
  if (leftAlone)
    return 1;
  // Fully undone: it is not offered again as the last run.
  MarkJournalRunUndone(*run);
  return 0;
}
