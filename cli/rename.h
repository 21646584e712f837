// --rename on the command line: the names below the run's folders repaired
// after its tags, one line (or JSON object) per name, and a summary line.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/names/rename.h"

struct RenameReport {
  bool preview = false;
  bool json = false;
  bool quiet = false;
  PathString base;  // paths show below it; empty: as they are
};

struct RenameCounts {
  std::size_t renamed = 0;
  std::size_t left = 0;    // not renamed: in the way of another, too long, or failed
  std::size_t failed = 0;  // of those, the renames that failed (not a note)
};

// Plans the renames below `folders`, hands the plan to `beforeRenames`
// (what must follow the new names is done there, before any name changes),
// reports each rename and, unless previewing, carries them out under
// `journal` (null: not recorded).
RenameCounts RunRenames(const std::vector<PathString>& folders, const NameEvidence& evidence,
                        RunJournal* journal, const std::atomic<bool>* stop,
                        const RenameReport& report,
                        const std::function<void(const RenamePlan&)>& beforeRenames);

// The line after the run's summary: "Renamed 3 files and folders", or in
// JSON an object of type "rename_summary".
void ReportRenameSummary(const RenameCounts& counts, const RenameReport& report);
