// Rename records of the run journal: written and flushed before the first
// rename of a run, so that an undo finds every name the run may have given.
#include "engine/commit/journal-format.h"
#include "engine/commit/journal.h"
#include "engine/names/rename-journal.h"

bool JournalRenames(RunJournal* journal, const std::vector<JournalRename>& renames) {
  std::string data;
  for (const JournalRename& rename : renames)
    data += EncodeRename({AbsolutePath(rename.from), AbsolutePath(rename.to)});
  return JournalRecords(journal, data);
}
