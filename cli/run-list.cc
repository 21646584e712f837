// Listing the recorded runs, and choosing the one an undo names.
#include "cli/run-list.h"

#include <ctime>

#include "cli/console.h"
#include "cli/json.h"
#include "cli/options.h"
#include "cli/show.h"
#include "engine/commit/journal-read.h"
#include "engine/platform/path.h"

namespace {

std::string FormatTime(std::int64_t seconds, const char* format) {
  const std::time_t time = std::time_t(seconds);
  char text[64] = {};
  std::strftime(text, sizeof text, format, std::gmtime(&time));
  return text;
}

std::string Plural(std::size_t count, const char* one) {
  return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

std::string JoinedPaths(const JournalRun& run) {
  std::string text;
  for (const PathString& path : run.paths)
    text += (text.empty() ? "" : ", ") + ShowPath(path);
  return text;
}

// Run ids are ASCII; a word that is not can only be a path.
std::string Narrow(const PathString& word) {
  std::string text;
  for (PathChar c : word)
    text.push_back(static_cast<unsigned>(c) < 0x80 ? char(c) : '?');
  return text;
}

// True when `path` is `folder` or lies below it.
bool AtOrBelow(const PathString& path, const PathString& folder) {
  if (path.compare(0, folder.size(), folder) != 0)
    return false;
  return path.size() == folder.size() ||
         (!folder.empty() && IsPathSeparator(folder.back())) ||
         IsPathSeparator(path[folder.size()]);
}

// The word as an absolute path, without a separator at its end.
PathString TargetPath(const PathString& word) {
  PathString path = AbsolutePath(word);
  while (path.size() > 1 && IsPathSeparator(path.back()) &&
         path[path.size() - 2] != PATH_TEXT(':'))
    path.pop_back();
  return path;
}

bool RunOver(const JournalRun& run, const PathString& target) {
  for (const PathString& path : run.paths) {
    if (AtOrBelow(path, target) || AtOrBelow(target, path))
      return true;
  }
  return false;
}

// True when the run (read with kIndex) changed a file or a name at or
// below `target`.
bool ChangedBelow(const JournalRun& run, const PathString& target) {
  for (const JournalSave& save : run.saves) {
    if (save.saved && AtOrBelow(save.path, target))
      return true;
  }
  for (const JournalRename& rename : run.renames) {
    if (AtOrBelow(rename.from, target) || AtOrBelow(rename.to, target))
      return true;
  }
  return false;
}

// The state as --list-runs says it, and in JSON its first word.
std::string StateText(const JournalRun& run, const std::vector<JournalRun>& runs) {
  std::string state = UndoneState(run);
  if (run.interrupted) {
    state = JournalRunGoing(run) ? "running"
                                 : "interrupted; the next run or --undo finishes it";
  } else if (run.finished) {
    state = "interrupted; finished by " +
            (run.finishedBy.empty() ? std::string("a run not recorded or an undo")
                                    : "run " + ShowText(run.finishedBy)) +
            (run.undone ? std::string("; ") + UndoneState(run) : std::string());
  }
  for (const JournalRun& other : runs) {
    if (other.finished && !run.id.empty() && other.finishedBy == run.id)
      state += "; finished the interrupted run " + ShowText(other.id);
  }
  return state;
}

const char* JsonState(const JournalRun& run) {
  if (run.interrupted)
    return JournalRunGoing(run) ? "running" : "interrupted";
  return UndoneState(run);
}

// "ID (PATHS)" of the newest runs, newest first, for a usage error.
std::string RecentRuns(const std::vector<JournalRun>& runs, bool json) {
  constexpr std::size_t kShown = 5;
  std::string text;
  for (std::size_t i = runs.size(); i > 0 && runs.size() - i < kShown; --i) {
    const JournalRun& run = runs[i - 1];
    std::string paths;
    for (const PathString& path : run.paths)
      paths += (paths.empty() ? "" : ", ") + MessagePath(json, path);
    text += (text.empty() ? "" : "; ") + (json ? run.id : ShowText(run.id)) + " (" + paths + ")";
  }
  return text;
}

}  // namespace

const char* UndoneState(const JournalRun& run) {
  return run.partlyUndone ? "partly undone" : run.undone ? "undone" : "done";
}

std::string RunLabel(const JournalRun& run, bool json) {
  std::string paths;
  for (const PathString& path : run.paths)
    paths += (paths.empty() ? "" : ", ") + MessagePath(json, path);
  return (json ? run.id : ShowText(run.id)) + ", " +
         FormatTime(run.started, "%Y-%m-%d %H:%M:%S UTC") + ", " + paths;
}

// {"type":"run",...}: the paths as a list, and their bytes beside them when
// one is not valid Unicode. `files` counts the files the run changed.
std::string JsonRun(const JournalRun& run, const std::vector<JournalRun>& runs) {
  std::string paths, hex, finished;
  bool lossy = false;
  for (const PathString& path : run.paths) {
    paths += (paths.empty() ? "" : ",") + JsonString(PathForDisplay(path));
    hex += std::string(hex.empty() ? "" : ",") + "\"" + PathHex(path) + "\"";
    lossy = lossy || !IsValidUnicode(path);
  }
  for (const JournalRun& other : runs) {
    if (other.finished && !run.id.empty() && other.finishedBy == run.id)
      finished += (finished.empty() ? "" : ",") + JsonString(other.id);
  }
  return "{\"type\":\"run\",\"id\":" + JsonString(run.id) +
         ",\"started\":" + JsonString(FormatTime(run.started, "%Y-%m-%dT%H:%M:%SZ")) +
         ",\"files\":" + std::to_string(run.changedCount) + ",\"paths\":[" + paths + "]" +
         (lossy ? ",\"paths_bytes\":[" + hex + "]" : std::string()) +
         ",\"undone\":" + (run.undone ? "true" : "false") + ",\"state\":\"" + JsonState(run) +
         "\"" +
         (run.renameCount ? ",\"renames\":" + std::to_string(run.renameCount) : std::string()) +
         (run.interrupted || run.finished ? std::string(",\"interrupted\":true") : "") +
         (run.finished ? ",\"finished_by\":" +
                             (run.finishedBy.empty() ? "null" : JsonString(run.finishedBy))
                       : std::string()) +
         (finished.empty() ? std::string() : ",\"finished\":[" + finished + "]") + "}\n";
}

int ListRuns(const PathString& stateFolder, const PathString& path, bool json) {
  const std::vector<JournalRun> runs = ReadJournalRuns(stateFolder, JournalDepth::kCount);
  const PathString target = path.empty() ? path : TargetPath(path);
  std::vector<const JournalRun*> shown;
  for (const JournalRun& run : runs) {
    if (target.empty() || RunOver(run, target))
      shown.push_back(&run);
  }
  if (json) {
    for (const JournalRun* run : shown)
      WriteOut(JsonRun(*run, runs));
    return 0;
  }
  if (shown.empty()) {
    WriteOut(target.empty() ? "No runs recorded\n"
                            : "No runs recorded over " + ShowPath(path) + "\n");
    return 0;
  }
  for (const JournalRun* run : shown) {
    const std::string names = run->renameCount ? ", " + Plural(run->renameCount, "name") : "";
    WriteOut(ShowText(run->id) + "  " + FormatTime(run->started, "%Y-%m-%d %H:%M:%S UTC") + "  " +
             Plural(run->changedCount, "file") + names + "  " + JoinedPaths(*run) + "  (" +
             StateText(*run, runs) + ")\n");
  }
  return 0;
}

JournalRun* ChooseRun(std::vector<JournalRun>* runs, const PathString& word, bool json,
                      int* status, bool* byPath) {
  *status = kExitUsage;
  *byPath = false;
  JournalRun* run = nullptr;
  const std::string id = Narrow(word);
  if (word.empty() && !runs->empty())
    run = &runs->back();
  for (auto it = runs->rbegin(); it != runs->rend() && !run && !word.empty(); ++it) {
    if (it->id == id)
      run = &*it;
  }
  // Not an id: the last run that changed something at or below the path.
  const PathString target = word.empty() || run ? PathString() : TargetPath(word);
  for (auto it = runs->rbegin(); it != runs->rend() && !run && !target.empty(); ++it) {
    JournalRun indexed = *it;
    if (RunOver(*it, target) && ReadJournalRun(it->file, JournalDepth::kIndex, &indexed) &&
        ChangedBelow(indexed, target)) {
      *it = std::move(indexed);
      run = &*it;
      *byPath = true;
    }
  }
  if (run && !*byPath && !ReadJournalRun(run->file, JournalDepth::kIndex, run))
    run = nullptr;
  if (run)
    return run;
  if (runs->empty()) {
    WriteMessage(json, "error", "no run to undo (see --list-runs)");
  } else if (word.empty()) {
    WriteMessage(json, "error", "the last run cannot be read (see --list-runs)");
  } else {
    UsageError(QuotedPath(word) + " is neither the id of a run nor a path a run changed files " +
               "in; recent runs: " + RecentRuns(*runs, json));
  }
  return nullptr;
}
