// Recording a run's renames in its journal before they happen.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/commit/journal.h"

// Records the renames a run is about to do and flushes them (and every
// commit mark before them): on disk before the first rename. A commit mark
// (JournalCommit) follows once the renames are durable.
bool JournalRenames(RunJournal* journal, const std::vector<JournalRename>& renames);
